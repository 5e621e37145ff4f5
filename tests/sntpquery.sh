#!/usr/bin/env bash
# The command-line tool as a user meets it: help, version, bad usage (64), a line per host, JSON
# with every field, the stripchart with its summary, quiet, and the exit status of failures.
# Against the project's responder on 127.0.0.1 (a port the system chooses) whose clock is 2.5 s
# ahead, natively or under Wine (the tool and the responder both Windows programs then); offsets
# are read to within 10 ms.
# Usage: sntpquery.sh native|wine BUILD-DIR
set -uo pipefail
mode=$1
build=$2
source "$(dirname "$0")/lib/checks.sh"
work=$(mktemp -d)
trap 'stop_responder; rm -rf "$work"' EXIT
if [ "$mode" = wine ] && ! command -v wine >/dev/null; then echo "skipped: Wine is not installed"; exit 77; fi
q() { run_built sntpquery "$@"; }
start_responder 2.5 "$work" || exit 1
server=127.0.0.1:$responder_port

out=$(q --help); code=$?
expect "--help exits 0 with the usage" [ "$code" = 0 ]
expect "--help names the options" has "$out" "--stripchart"
out=$(q --version); expect "--version" has "$out" "^sntpquery [0-9]+\.[0-9]+\.[0-9]+$"
for bad in "-x 127.0.0.1" "" "--samples 9 127.0.0.1" "--legacy -j 127.0.0.1" "-t 127.0.0.1"; do
  q $bad >/dev/null 2>"$work/err"; code=$?
  expect "bad usage '$bad' exits 64 with a message on stderr" [ "$code" = 64 -a -s "$work/err" ]
done

out=$(q "$server" "$server"); code=$?
expect "two hosts: exit 0" [ "$code" = 0 ]
expect "two hosts: a line each" [ "$(grep -cE 'offset \+2\.(49|50)' <<<"$out")" = 2 ]
expect "a line: host, address, offset in microseconds, delay, stratum" \
  has "$out" "^$server \(127\.0\.0\.1\): offset \+2\.(49|50)[0-9]{4} s, delay [0-9.]+ s, stratum 2$"

out=$(q -j -n 2 -t 1000 "$server"); code=$?
expect "--json: exit 0" [ "$code" = 0 ]
expect "--json: every field, and the values" /usr/bin/python3 -c '
import json, sys
r = json.loads(sys.argv[1])
keys = {"host", "address", "outcome", "reason", "reason_text", "offset", "delay", "root_delay",
        "root_dispersion", "server_time_ns", "reference_id", "stratum", "leap", "version", "poll",
        "precision", "kiss_code", "samples"}
assert set(r) == keys, set(r) ^ keys
assert r["outcome"] == 0 and r["samples"] == 2 and abs(r["offset"] - 2.5) < 0.05, r
assert r["reference_id"] == "TEST" and r["stratum"] == 2 and r["version"] == 4, r
' "$out"

out=$(q --stripchart --count 3 --interval 0.1 "$server"); code=$?
expect "--stripchart --count 3: exit 0" [ "$code" = 0 ]
expect "--stripchart: three sample lines with a bar" [ "$(grep -cE '^[0-9:]{8}  \+2\.(49|50)[0-9]+ s  delay [0-9.]+ s  \[.{41}\]$' <<<"$out")" = 3 ]
expect "--stripchart: the summary" has "$out" "^3 samples: minimum \+2\.(49|50)[0-9]+ s, median \+2\.(49|50)[0-9]+ s, maximum \+2\.(49|50)[0-9]+ s, jitter [0-9.]+ s$"

out=$(q -q "$server"); code=$?
expect "--quiet: nothing printed, exit 0" [ "$code" = 0 -a -z "$out" ]
out=$(q -t 300 "$server" 127.0.0.1:9); code=$?
expect "a silent port: exit 1 (no reply in time)" [ "$code" = 1 ]
expect "a silent port: the reason's text" has "$out" "^127\.0\.0\.1:9 \(127\.0\.0\.1\): no reply in time$"
q -6 127.0.0.1 "$server" >/dev/null; code=$?
expect "the last failure decides: IPv6 only for IPv4 text, then a good host: exit 3" [ "$code" = 3 ]

finish

#!/usr/bin/env bash
# Runs the examples under examples/ as a user would, so that they cannot rot: the C program that
# links the library and the one that loads it at run time (by name, and on Windows by ordinal),
# natively or under Wine, and natively the Python one with ctypes; against the project's
# responder on 127.0.0.1 (clock 1 s ahead).
# Usage: examples.sh native|wine BUILD-DIR SOURCE-DIR
set -uo pipefail
mode=$1
build=$2
source_dir=$3
work=$(mktemp -d)
responder_pid=
cleanup() {
  if [ -n "$responder_pid" ]; then kill "$responder_pid" 2>/dev/null; wait "$responder_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
if [ "$mode" = wine ]; then
  command -v wine >/dev/null || { echo "skipped: Wine is not installed"; exit 77; }
  run() { local program=$1; shift; (cd "$build" && wine "$program.exe" "$@" </dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}"); }
  responder=(wine "$build/sntpresponder.exe")
else
  run() { local program=$1; shift; "$build/$program" "$@"; }
  responder=("$build/sntpresponder")
fi
failures=0
expect() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
has() { grep -qE -- "$2" <<<"$1"; }

"${responder[@]}" 127.0.0.1 0 1 >"$work/responder.log" 2>&1 &
responder_pid=$!
for _ in $(seq 100); do grep -q answering "$work/responder.log" && break; sleep 0.1; done
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$work/responder.log" | tr -d '\r')
[ -n "$port" ] || { echo "FAIL: the responder did not start"; exit 1; }

out=$(run example_query "127.0.0.1:$port"); code=$?
echo "$out"
expect "examples/c/query.c: exit 0, the offset" [ "$code" = 0 ]
expect "examples/c/query.c: two samples, about 1 s" has "$out" "offset \+(0\.99|1\.00)[0-9]* s, .*2 samples"
out=$(run example_load_at_run_time); code=$?
echo "$out"
expect "examples/c/load_at_run_time.c: exit 0" [ "$code" = 0 ]
if [ "$mode" = wine ]; then
  expect "examples/c/load_at_run_time.c: by name and by ordinal" has "$out" "found by name and by ordinal"
else
  out=$(/usr/bin/python3 "$source_dir/examples/python/query.py" "127.0.0.1:$port" "$build/libsntpclient.so.1"); code=$?
  echo "$out"
  expect "examples/python/query.py: exit 0, about 1 s" has "$code $out" "^0 127\.0\.0\.1: offset \+(0\.99|1\.00)"
fi
[ "$failures" = 0 ] || { echo "$failures failed"; exit 1; }
echo "PASS"

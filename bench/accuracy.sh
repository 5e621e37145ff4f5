#!/usr/bin/env bash
# Offset error against a server of known skew, and the cost of one query, for this library and the
# clients people use, in one run: the project's responder (clock ahead by $skew s) in a network
# namespace made here, asked over a veth pair from this namespace by QueryServerEx (1 and 4
# samples), QueryServer, ntpsec's ntpdig and chronyd -Q. Prints a table: |offset - skew| median and
# worst over $count queries, and the whole-process wall and processor time of one query. Run after
# scripts/test or scripts/demo has built the Linux form; needs root. Installs ntpsec-ntpdig if it
# is missing.
# Usage: bash bench/accuracy.sh [COUNT]
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
count=${1:-100}
skew=1.234567
export TZ=UTC
ns=sntp-acc-$$
veth=sntpacc$$
client_ip=198.18.130.1
server_ip=198.18.130.2
work=$(mktemp -d)
responder_pid=

[ "$(id -u)" = 0 ] || { echo "needs root (namespaces, UDP port 123)"; exit 1; }
if ! command -v ntpdig >/dev/null; then
  say "installing ntpsec-ntpdig (the peer client; it starts no daemon)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ntpsec-ntpdig >/dev/null
fi
cleanup() {
  if [ -n "$responder_pid" ]; then kill "$responder_pid" 2>/dev/null || true; wait "$responder_pid" 2>/dev/null || true; fi
  remove_namespace
  rm -rf "$work"
}
trap cleanup EXIT
make_namespace
ip netns exec "$ns" "$build_linux/sntpresponder" "$server_ip" 123 "$skew" >"$work/responder.log" 2>&1 &
responder_pid=$!
for _ in $(seq 50); do grep -q answering "$work/responder.log" && break; sleep 0.1; done

# Reads offsets (seconds, one a line) and prints the median and worst |offset - skew| in µs.
errors() {
  awk -v s="$skew" '{ e = $1 - s; if (e < 0) e = -e; print e * 1e6 }' | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) { print "- -"; exit }
           m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
           printf "%.1f %.1f %d\n", m, v[NR], NR }'
}
# Runs a command $count times, one process each; prints the mean wall and processor ms of one.
cost() {
  local start end cpu0 cpu1 me=$BASHPID  # this shell: its reaped children's time counts here
  cpu0=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$me/stat")
  start=$(date +%s%N)
  for _ in $(seq "$count"); do "$@" >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  cpu1=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$me/stat")
  awk -v n="$count" -v w=$(((end - start) / 1000)) -v c=$((cpu1 - cpu0)) -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "%.2f %.2f", w / n / 1000, c / hz * 1000 / n }'
}
row() { printf '| %-28s | %10s | %10s | %7s | %10s | %10s |\n' "$@"; }

q=$build_linux/extended_query
row client "median µs" "worst µs" queries "wall ms" "cpu ms"
row ---------------------------- ---------- ---------- ------- ---------- ----------
read -r m w n <<<"$("$q" "$server_ip" "$count" 2>/dev/null | errors)"
read -r wall cpu <<<"$(cost "$q" "$server_ip" 1)"
row "QueryServerEx, 1 sample" "$m" "$w" "$n" "$wall" "$cpu"
read -r m w n <<<"$("$q" "$server_ip" "$count" 4 20 2>/dev/null | errors)"
row "QueryServerEx, 4 samples" "$m" "$w" "$n" "(60 ms of pauses)" ""
read -r m w n <<<"$("$q" --legacy "$server_ip" "$count" 2>/dev/null | errors)"
read -r wall cpu <<<"$(cost "$build_linux/sntpquery" --legacy "$server_ip")"
row "QueryServer (sntpquery --legacy)" "$m" "$w" "$n" "$wall" "$cpu"
read -r m w n <<<"$(for _ in $(seq "$count"); do ntpdig -j "$server_ip" 2>/dev/null; done |
  sed -n 's/.*"offset": *\([-0-9.e]*\).*/\1/p' | errors)"
read -r wall cpu <<<"$(cost ntpdig "$server_ip")"
row "ntpdig $(ntpdig --version 2>&1 | awk '{print $2; exit}')" "$m" "$w" "$n" "$wall" "$cpu"
read -r m w n <<<"$(for _ in $(seq "$count"); do chronyd -Q -t 3 "server $server_ip iburst maxsamples 1" 2>&1; done |
  sed -n 's/.*System clock wrong by \([-0-9.e]*\) seconds.*/\1/p' | errors)"
read -r wall cpu <<<"$(cost chronyd -Q -t 3 "server $server_ip iburst maxsamples 1")"
row "chronyd -Q $(chronyd --version | awk '{print $4; exit}')" "$m" "$w" "$n" "$wall" "$cpu"

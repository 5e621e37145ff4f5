#!/usr/bin/env bash
# Measures the processor time of one query that waits out the full 4000 ms limit, for the Linux
# library and for the DLL under Wine (the Wine program and the wineserver together, since a
# waiting socket costs time in the wineserver too). The server is an address in a network
# namespace made here where nothing listens on port 123. Run after scripts/test or scripts/demo
# has built both forms; needs root.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
ns=sntp-bench-$$
veth=sntpb$$
client_ip=198.18.125.1
server_ip=198.18.125.2
hz=$(getconf CLK_TCK)

trap 'remove_namespace; stop_wine' EXIT
make_namespace

cpu_of() { awk -v hz="$hz" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$1/stat"; }

TIMEFORMAT='%R s elapsed, %U s user, %S s system'
say "Linux: sntpquery $server_ip"
time "$build_linux/sntpquery" --legacy "$server_ip" || true

say "Windows under Wine: sntpquery.exe $server_ip"
prepare_wine
server=$wineserver_pid
# The same program with a query that fails at once is the baseline: starting a Wine process
# costs time of its own.
for host in "" "$server_ip"; do
  echo "-- sntpquery.exe '$host'"
  before=$(cpu_of "$server")
  time (cd "$build_win32" && wine sntpquery.exe --legacy "$host" | tr -d '\r' || true)
  after=$(cpu_of "$server")
  echo "wineserver: $(awk -v a="$before" -v b="$after" 'BEGIN { printf "%.3f", b - a }') s of processor time"
done

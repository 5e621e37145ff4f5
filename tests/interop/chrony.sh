#!/usr/bin/env bash
# Interoperation with a real NTP server: chronyd, serving its own clock in a network namespace
# that this test creates, queried by the command-line host. Since the server's clock is this
# machine's clock and the run is in UTC, the offset must be outcome 0 and within 50 ms of zero.
# Usage: chrony.sh native PATH-TO-sntpquery | chrony.sh wine PATH-TO-sntpquery.exe
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/common.sh"
export TZ=UTC
mode=$1
program=$2

if [ "$(id -u)" != 0 ] || ! command -v chronyd >/dev/null || ! ip netns list >/dev/null 2>&1; then
  echo "skipped: needs root, ip netns and chronyd"
  exit 77
fi
if [ "$mode" = wine ] && ! command -v wine >/dev/null; then
  echo "skipped: Wine is not installed"
  exit 77
fi
ns=sntp-interop-$$
veth=sntpi$$
client_ip=198.18.124.1
server_ip=198.18.124.2
trap stop_server EXIT
start_server || { echo "FAIL: the server did not start"; exit 1; }

case $mode in
  native) output=$("$program" --legacy "$server_ip") ;;
  wine) output=$(cd "$(dirname "$program")" && wine "$program" --legacy "$server_ip" </dev/null) ;;
esac
code=$?
output=$(printf "%s\n" "$output" | tr -d "\r")
echo "$output"
[ "$code" = 0 ] || { echo "FAIL: outcome $code, want 0"; exit 1; }
seconds=$(printf '%s\n' "$output" | sed -n 's/^offset: .* days (\(.*\) s)$/\1/p')
awk -v s="$seconds" 'BEGIN { exit !(s > -0.05 && s < 0.05) }' ||
  { echo "FAIL: offset $seconds s, want within 50 ms of 0"; exit 1; }
echo "PASS: outcome 0, offset $seconds s"

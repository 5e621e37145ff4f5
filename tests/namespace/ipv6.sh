#!/usr/bin/env bash
# The extended query over IPv6: chronyd, serving its own clock, in a network namespace this test
# makes, at 2001:db8:5::2 behind a veth pair from a client namespace at 2001:db8:5::1 (addresses of
# the documentation range, assigned here). Asked by address and by a name of the client's own
# hosts file.
# Natively, or under Wine with a Wine server of the test's own in the client namespace.
# Usage: ipv6.sh native PATH-TO-extended_query | ipv6.sh wine PATH-TO-extended_query.exe
set -uo pipefail
mode=$1
query=$2
export TZ=UTC

if [ "$(id -u)" != 0 ] || ! ip netns list >/dev/null 2>&1 || ! command -v chronyd >/dev/null; then
  echo "skipped: needs root, ip netns and chronyd"
  exit 77
fi
if [ "$mode" = wine ] && { ! command -v wine >/dev/null || [ ! -d "${WINEPREFIX:-/nonexistent}/drive_c" ]; }; then
  echo "skipped: needs Wine and a prepared Wine prefix in WINEPREFIX"
  exit 77
fi
source "$(dirname "$0")/../../scripts/lib/common.sh"
source "$(dirname "$0")/wine_in_namespace.sh"
client=sntp-v6c-$$
server=sntp-v6s-$$
work=$(mktemp -d)
cleanup() {
  stop_wine_in_namespace
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; fi
  ip netns del "$client" 2>/dev/null
  ip netns del "$server" 2>/dev/null
  rm -rf "$work" "/etc/netns/$client"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

ip netns add "$client"
ip netns add "$server"
ip -n "$client" link set lo up
ip -n "$server" link set lo up
ip link add "sntp6a$$" netns "$client" type veth peer name "sntp6b$$" netns "$server"
ip -n "$client" -6 addr add 2001:db8:5::1/64 dev "sntp6a$$" nodad
ip -n "$server" -6 addr add 2001:db8:5::2/64 dev "sntp6b$$" nodad
ip -n "$client" link set "sntp6a$$" up
ip -n "$server" link set "sntp6b$$" up
mkdir -p "/etc/netns/$client"
printf '127.0.0.1 localhost\n2001:db8:5::2 timeserver.test\n' >"/etc/netns/$client/hosts"

start_chronyd "$server" "$work" || exit 1

if [ "$mode" = wine ]; then
  wine_in_namespace "$client" "$work" || exit 1
  run() { (cd "$(dirname "$query")" && ip netns exec "$client" wine "$query" "$@" </dev/null | tr -d '\r'); }
else
  run() { ip netns exec "$client" "$query" "$@"; }
fi

# extended_query prints offset and delay of each usable reply; the server's clock is this machine's.
for target in "[2001:db8:5::2]" "[2001:db8:5::2]:123" "2001:db8:5::2" "timeserver.test"; do
  output=$(run "$target" 1 2>"$work/stderr")
  code=$?
  read -r offset delay <<<"$(printf '%s\n' "$output" | head -n 1)"
  output="$output $(cat "$work/stderr")"
  # SNTP's error is at most half the round trip (the first packet may wait for neighbour
  # discovery on the way there).
  if [ "$code" = 0 ] &&
    awk -v o="$offset" -v d="$delay" 'BEGIN { if (o < 0) o = -o; exit !(o <= d / 2 + 0.002) }'; then
    echo "ok: $target: offset $offset s, delay $delay s"
  else
    fail "$target: exit $code, output: $output"
  fi
done
[ "$failures" = 0 ] || { echo "$failures failed"; exit 1; }
echo "PASS"

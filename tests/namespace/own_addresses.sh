#!/usr/bin/env bash
# This machine's own addresses on Linux come from its interfaces, not from its hosts file. Three
# machines, each a network namespace this test makes: one with only loopback (no network: the
# presence check says 0 and a server other than "127.0.0.1" fails at once); one with a veth
# address whose hosts file maps the host name to 127.0.0.1 (the presence check says 1 and a server
# behind the veth answers); one with two interfaces ("127.0.0.1" asks the first one listed).
# Usage: own_addresses.sh BUILD-DIR (with sntpquery, sntppresence and sntpresponder in it)
set -uo pipefail
build=$1
export TZ=UTC

if [ "$(id -u)" != 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "skipped: needs root and ip netns"
  exit 77
fi

client=sntp-own-c-$$
server=sntp-own-s-$$
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  ip netns del "$client" 2>/dev/null
  ip netns del "$server" 2>/dev/null
  rm -rf "/etc/netns/$client" "$work"
}
work=$(mktemp -d)
trap cleanup EXIT
failures=0
check() {  # check WHAT GOT WANT
  if [ "$2" = "$3" ]; then echo "ok: $1: $2"; else echo "FAIL: $1: got $2, want $3"; failures=$((failures + 1)); fi
}
# Starts a responder in namespace $1 at $2:123 with skew $3 and waits until it answers.
responder() {
  local log=$work/responder-$2.log
  ip netns exec "$1" "$build/sntpresponder" "$2" 123 "$3" >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q answering "$log" && return 0; sleep 0.1; done
  echo "FAIL: the responder at $2 did not start:"; cat "$log"; exit 1
}
# Runs sntpquery in the client namespace; sets $outcome, $seconds (offset) and $elapsed_ms.
query() {
  local start output
  start=$(date +%s%N)
  output=$(ip netns exec "$client" "$build/sntpquery" --legacy "$1")
  outcome=$?
  elapsed_ms=$((($(date +%s%N) - start) / 1000000))
  seconds=$(printf '%s\n' "$output" | sed -n 's/^offset: .* days (\(.*\) s)$/\1/p')
}
# Joins the client to the server by a veth pair: link NAME, client address, server address (/24).
link() {
  ip link add "$1a" netns "$client" type veth peer name "$1b" netns "$server"
  ip -n "$client" addr add "$2/24" dev "$1a"
  ip -n "$server" addr add "$3/24" dev "$1b"
  ip -n "$client" link set "$1a" up
  ip -n "$server" link set "$1b" up
}
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

ip netns add "$client"
ip netns add "$server"
ip -n "$client" link set lo up
ip -n "$server" link set lo up
# The host name stands for 127.0.0.1 in the client's hosts file, as on this machine and in many
# containers; ip netns exec puts this file in place of /etc/hosts.
mkdir -p "/etc/netns/$client"
printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$(hostname)" >"/etc/netns/$client/hosts"
check "the client's hosts file maps $(hostname) to" \
  "$(ip netns exec "$client" getent hosts "$(hostname)" | awk '{print $1}')" 127.0.0.1

echo "== only loopback"
ip netns exec "$client" "$build/sntppresence" >/dev/null
check "isConnected" $? 0
query 198.18.126.2
check "outcome for another server" "$outcome" 3
within "$elapsed_ms" 0 1000 || { echo "FAIL: took $elapsed_ms ms, want at once"; failures=$((failures + 1)); }

echo "== a veth address, the host name mapped to 127.0.0.1"
link "sntpo1$$" 198.18.126.1 198.18.126.2
responder "$server" 198.18.126.2 0
ip netns exec "$client" "$build/sntppresence" >/dev/null
check "isConnected" $? 1
query 198.18.126.2
check "outcome" "$outcome" 0
within "$seconds" -0.05 0.05 || { echo "FAIL: offset $seconds s, want within 50 ms of 0"; failures=$((failures + 1)); }

echo "== two interfaces: \"127.0.0.1\" asks the first"
link "sntpo2$$" 198.18.127.1 198.18.127.2
first=$(ip -n "$client" -4 -o addr show scope global up | awk 'NR == 1 { sub("/.*", "", $4); print $4 }')
check "the first address listed" "$first" 198.18.126.1
# A server on each of the client's own addresses, told apart by their clocks.
responder "$client" 198.18.126.1 100
responder "$client" 198.18.127.1 -100
query 127.0.0.1
check "outcome" "$outcome" 0
within "$seconds" 99.95 100.05 || { echo "FAIL: offset $seconds s, want 100 (the first address's server)"; failures=$((failures + 1)); }

[ "$failures" = 0 ] && echo "PASS" || { echo "$failures failed"; exit 1; }

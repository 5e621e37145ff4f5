#!/usr/bin/env bash
# The reply from a foreign address, under Wine. Wine sends from 127.0.0.1 whatever loopback
# address a socket is bound to, so the unit test that needs a foreign source runs here with two
# veth addresses in a network namespace of this test's own, with a Wine server of its own started
# inside it (Windows sockets live in the Wine server's namespace), over a copy of the prepared
# Wine prefix.
# Usage: wine_foreign_source.sh PATH-TO-unit_tests.exe
set -uo pipefail
tests=$1

if [ "$(id -u)" != 0 ] || ! ip netns list >/dev/null 2>&1 || ! command -v wine >/dev/null; then
  echo "skipped: needs root, ip netns and Wine"
  exit 77
fi
prefix=${WINEPREFIX:-}
if [ -z "$prefix" ] || [ ! -d "$prefix/drive_c" ]; then
  echo "skipped: no prepared Wine prefix in WINEPREFIX"
  exit 77
fi

ns=sntp-wfs-$$
work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    # The Wine processes of the copied prefix, then its server: helpers outlive a killed server.
    WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  ip netns del "$ns" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip -n "$ns" link set lo up
ip -n "$ns" link add sntpwa type veth peer name sntpwb
ip -n "$ns" addr add 198.18.128.2/24 dev sntpwa
ip -n "$ns" addr add 198.18.128.3/24 dev sntpwb  # a primary address, so its own source
ip -n "$ns" link set sntpwa up
ip -n "$ns" link set sntpwb up

cp -a "$prefix" "$work/prefix"
export WINEPREFIX=$work/prefix WINEDEBUG=-all
ip netns exec "$ns" wineserver -f -p >"$work/wineserver.log" 2>&1 &
server_pid=$!
# The server works in its own folder, where its socket appears once it listens.
socket=/proc/$server_pid/cwd/socket
for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.1; done
[ -S "$socket" ] || { echo "FAIL: the Wine server did not start"; cat "$work/wineserver.log"; exit 1; }

# Wine's helper processes, started by the first program, keep its output open: they start here,
# and every output goes to a file.
ip netns exec "$ns" wineboot -i </dev/null >"$work/wineboot.log" 2>&1
(cd "$(dirname "$tests")" && ip netns exec "$ns" \
  env SNTP_TEST_SERVER=198.18.128.2 SNTP_TEST_FOREIGN=198.18.128.3 \
  wine "$tests" --gtest_filter=ReplyTest.ForeignSourceIsDropped </dev/null >"$work/test.log" 2>&1)
code=$?
output=$(tr -d '\r' <"$work/test.log")
printf '%s\n' "$output"
if [ "$code" != 0 ] || ! printf '%s\n' "$output" | grep -q '\[  PASSED  \] 1 test'; then
  echo "FAIL: the test did not pass (exit $code)"
  exit 1
fi
if printf '%s\n' "$output" | grep -q 'SKIPPED'; then
  echo "FAIL: the test skipped: Wine did not keep the veth source address either"
  exit 1
fi
echo "PASS"

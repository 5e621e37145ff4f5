#!/usr/bin/env bash
# The reply from a foreign address, under Wine. Wine sends from 127.0.0.1 whatever loopback
# address a socket is bound to, so the unit test that needs a foreign source runs here with two
# veth addresses in a network namespace of this test's own, with a Wine server of its own.
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

source "$(dirname "$0")/wine_in_namespace.sh"
ns=sntp-wfs-$$
work=$(mktemp -d)
cleanup() {
  stop_wine_in_namespace
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

wine_in_namespace "$ns" "$work" || exit 1
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

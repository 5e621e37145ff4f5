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
source "$(dirname "$0")/lib/checks.sh"
work=$(mktemp -d)
trap 'stop_responder; rm -rf "$work"' EXIT
if [ "$mode" = wine ] && ! command -v wine >/dev/null; then echo "skipped: Wine is not installed"; exit 77; fi
start_responder 1 "$work" || exit 1
port=$responder_port

out=$(run_built example_query "127.0.0.1:$port"); code=$?
echo "$out"
expect "examples/c/query.c: exit 0, the offset" [ "$code" = 0 ]
expect "examples/c/query.c: two samples, about 1 s" has "$out" "offset \+(0\.99|1\.00)[0-9]* s, .*2 samples"
out=$(run_built example_load_at_run_time); code=$?
echo "$out"
expect "examples/c/load_at_run_time.c: exit 0" [ "$code" = 0 ]
if [ "$mode" = wine ]; then
  expect "examples/c/load_at_run_time.c: by name and by ordinal" has "$out" "found by name and by ordinal"
else
  out=$(/usr/bin/python3 "$source_dir/examples/python/query.py" "127.0.0.1:$port" "$build/libsntpclient.so.1"); code=$?
  echo "$out"
  expect "examples/python/query.py: exit 0, about 1 s" has "$code $out" "^0 127\.0\.0\.1: offset \+(0\.99|1\.00)"
fi
finish

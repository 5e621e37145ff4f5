#!/bin/sh
# Runs a fuzzer for a number of seconds over its corpus; what it finds new goes to a scratch
# folder that is removed afterwards. Prints libFuzzer's final statistics.
# Usage: run.sh FUZZER CORPUS-DIR SECONDS
set -u
fuzzer=$1 corpus=$2 seconds=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/new"
"$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$scratch/" "$scratch/new" "$corpus" >"$scratch/log" 2>&1
code=$?
grep -E 'stat::number_of_executed_units|stat::peak_rss_mb|INFO: seed corpus|DONE|ERROR|SUMMARY|==[0-9]+==' "$scratch/log"
for crash in "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-*; do
  [ -e "$crash" ] && { echo "input that failed ($(basename "$crash")):"; od -An -tx1 "$crash" | head -8; }
done
echo "corpus: $(ls "$corpus" | wc -l) files kept, $(ls "$scratch/new" | wc -l) new this run"
exit $code

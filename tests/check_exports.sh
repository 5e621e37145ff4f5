#!/bin/sh
# Checks the export table of the built library: exactly QueryServer, SNTPCleanUp, isConnected,
# setLoopFunction, QueryServerEx and SNTPReasonText, undecorated, and on Windows with the ordinals
# 1 to 6 in that order.
set -eu
lib=$1
expected="QueryServer SNTPCleanUp isConnected setLoopFunction QueryServerEx SNTPReasonText"
case "$lib" in
*.dll)
    table=$(i686-w64-mingw32-objdump -p "$lib")
    names=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\] \(.*\)$/\1:\2/p' | sort -n -t: -k1 |
        tr '\n' ' ')
    base=$(printf '%s\n' "$table" | sed -n 's/.*Ordinal Base[[:space:]]*\([0-9][0-9]*\).*/\1/p' | head -n 1)
    want="0:QueryServer 1:SNTPCleanUp 2:isConnected 3:setLoopFunction 4:QueryServerEx 5:SNTPReasonText "
    [ "$base" = 1 ] || { echo "ordinal base is '$base', not 1"; exit 1; }
    [ "$names" = "$want" ] || { echo "exports are '$names', want '$want' (ordinal = index + 1)"; exit 1; }
    ;;
*)
    names=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
    want=$(printf '%s\n' $expected | sort | tr '\n' ' ')
    [ "$names" = "$want" ] || { echo "exports are '$names', want '$want'"; exit 1; }
    ;;
esac
echo "exports of $lib: $names"

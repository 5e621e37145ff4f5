#!/bin/sh
# The include graph runs one way: library -> sntp -> platform. No file includes a header of a
# layer above its own, and the tests' and tools' headers are no one's.
# Usage: check_layers.sh SOURCE-DIR
set -u
cd "$1" || exit 1
status=0
check() {  # check LAYER-DIR ALLOWED-PATTERN
  for file in $(find "$1" -name '*.h' -o -name '*.cpp'); do
    grep -Hn '^#include "' "$file" | while IFS= read -r line; do
      header=$(printf '%s\n' "$line" | sed 's/.*#include "\([^"]*\)".*/\1/')
      if ! printf '%s\n' "$header" | grep -Eq "$2"; then
        echo "against the arrows: $line"
      fi
    done
  done
}
report=$( {
  check platform '^platform/'
  check sntp '^(sntp|platform)/'
  check library '^(library|sntp|platform)/'
} )
if [ -n "$report" ]; then
  printf '%s\n' "$report"
  status=1
else
  echo "the includes run one way: library -> sntp -> platform"
fi
exit $status

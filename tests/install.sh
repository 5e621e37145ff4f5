#!/usr/bin/env bash
# What cmake --install puts in place, used as a user would: a separate CMake project that finds
# the library with find_package(sntpclient), another program built with pkg-config's flags, and
# the installed tool. On Windows, the files and a program linked against the import library.
# Usage: install.sh native|win32 BUILD-DIR VERSION
set -uo pipefail
mode=$1
build=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
failures=0
expect() {  # expect WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
cmake --install "$build" --prefix "$stage" >"$work/install.log" 2>&1 ||
  { echo "FAIL: cmake --install"; cat "$work/install.log"; exit 1; }

cat >"$work/main.c" <<'C'
#include <stdio.h>
#include <sntpclient.h>
int main(void) {
    SNTPResult r = {sizeof r};
    uint16_t outcome = QueryServerEx("", NULL, &r);  /* a bad argument: no network needed */
    printf("%u %u %s\n", outcome, r.reason, SNTPReasonText(r.reason));
    return outcome == 3 && r.reason == SNTP_REASON_BAD_ARGUMENT ? 0 : 1;
}
C

if [ "$mode" = win32 ]; then
  for f in bin/sntpclient.dll bin/sntpquery.exe include/sntpclient.h lib/libsntpclient.dll.a \
           lib/sntpclient.def lib/pkgconfig/sntpclient.pc lib/cmake/sntpclient/sntpclientConfig.cmake; do
    expect "installed: $f" [ -f "$stage/$f" ]
  done
  expect "a program links against the installed import library" \
    i686-w64-mingw32-gcc -std=c99 -I"$stage/include" "$work/main.c" -L"$stage/lib" -lsntpclient \
    -o "$work/main.exe"
  for f in bin/sntpclient.dll bin/sntpquery.exe; do
    expect "$f carries its version resource" \
      sh -c "i686-w64-mingw32-strings -el '$stage/$f' | grep -qx '$version'"
  done
else
  for f in bin/sntpquery include/sntpclient.h lib/libsntpclient.so.1 lib/pkgconfig/sntpclient.pc \
           lib/cmake/sntpclient/sntpclientConfig.cmake share/man/man1/sntpquery.1; do
    expect "installed: $f" [ -e "$stage/$f" ]
  done
  expect "the installed tool runs" "$stage/bin/sntpquery" --version
  mkdir "$work/cmake-user"
  cp "$work/main.c" "$work/cmake-user/main.c"
  cat >"$work/cmake-user/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(user C)
find_package(sntpclient 1 REQUIRED)
add_executable(user main.c)
target_link_libraries(user PRIVATE sntpclient::sntpclient)
CMAKE
  expect "find_package(sntpclient) configures and builds a program" sh -c \
    "cmake -S '$work/cmake-user' -B '$work/cmake-user/build' -DCMAKE_PREFIX_PATH='$stage' >'$work/user.log' 2>&1 &&
     cmake --build '$work/cmake-user/build' >>'$work/user.log' 2>&1"
  expect "which runs" "$work/cmake-user/build/user"
  flags=$(PKG_CONFIG_PATH=$stage/lib/pkgconfig pkg-config --cflags --libs sntpclient)
  expect "pkg-config's flags build a program" \
    sh -c "cc -std=c99 '$work/main.c' $flags -Wl,-rpath,'$stage/lib' -o '$work/pc-user'"
  expect "which runs" "$work/pc-user"
  expect "pkg-config gives the version" [ "$(PKG_CONFIG_PATH=$stage/lib/pkgconfig pkg-config --modversion sntpclient)" = "$version" ]
  expect "the tool gives the version" [ "$("$stage/bin/sntpquery" --version)" = "sntpquery $version" ]
fi
[ "$failures" = 0 ] || { echo "$failures failed"; exit 1; }
echo "PASS"

# Shared by the project's scripts: the build folders, the Wine prefix, and a local NTP server
# (Debian's chronyd serving its own clock) in a network namespace of its own.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_linux=$root/build/linux
build_win32=$root/build/win32
build_asan=$root/build/linux-asan
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=-all

say() { printf '== %s\n' "$*"; }

build_both() {
  say "building the Linux library, tools and tests in build/linux"
  (cd "$root" && cmake --preset linux >/dev/null)
  cmake --build "$build_linux"
  say "building the 32-bit Windows DLL, tools and tests in build/win32"
  (cd "$root" && cmake --preset win32 >/dev/null)
  cmake --build "$build_win32"
}

# The Linux build once more with AddressSanitizer and UndefinedBehaviorSanitizer: no freed
# memory used, no leak, no undefined arithmetic.
build_asan() {
  say "building the Linux library and tests with sanitizers in build/linux-asan"
  cmake -S "$root" -B "$build_asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSNTP_TEST_PREFIX=linux-asan \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
    >/dev/null
  cmake --build "$build_asan"
}

# The Linux library and the tests that run threads once more with ThreadSanitizer: no data race
# between calls on several threads.
build_tsan=$root/build/linux-tsan
build_tsan() {
  say "building the Linux library and tests with ThreadSanitizer in build/linux-tsan"
  cmake -S "$root" -B "$build_tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSNTP_TEST_PREFIX=linux-tsan \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" >/dev/null
  cmake --build "$build_tsan" --target unit_tests host_tests sntpclient
}

# The libFuzzer targets, built with clang, AddressSanitizer and UndefinedBehaviorSanitizer; each
# runs for $SNTP_FUZZ_SECONDS (30) as a test.
build_fuzz=$root/build/fuzz
build_fuzz() {
  say "building the fuzz targets with clang in build/fuzz"
  cmake -S "$root" -B "$build_fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DSNTP_BUILD_TESTS=OFF -DSNTP_FUZZ=ON \
    -DSNTP_FUZZ_SECONDS="${SNTP_FUZZ_SECONDS:-30}" \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
    >/dev/null
  cmake --build "$build_fuzz" --target reply_fuzzer exchange_fuzzer
}

# Wine's helper processes keep the standard output of the first program of a prefix open: they
# are started here, with their output in a file, and one Wine server of ours serves the whole
# run; stop_wine stops the prefix's processes and then it, by its pid. There is no display here: the
# null graphics driver keeps Wine's desktop process up, instead of one that every program that
# makes a window starts anew and that holds the program's output open while it gives up.
wineserver_pid=
start_wineserver() {
  wineserver -f -p >>"$root/build/wineserver.log" 2>&1 &
  wineserver_pid=$!
  # The server works in a folder of its own, where its socket appears once it listens.
  for _ in $(seq 100); do [ -S "/proc/$wineserver_pid/cwd/socket" ] && break; sleep 0.1; done
  if [ ! -S "/proc/$wineserver_pid/cwd/socket" ]; then
    # Not ours to stop: perhaps another Wine server already serves this prefix.
    kill "$wineserver_pid" 2>/dev/null || true
    wait "$wineserver_pid" 2>/dev/null || true
    wineserver_pid=
    echo "the Wine server for $WINEPREFIX did not start (does another one serve it?):" >&2
    cat "$root/build/wineserver.log" >&2
    return 1
  fi
}

prepare_wine() {
  say "preparing the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  : >"$root/build/wineserver.log"
  start_wineserver || return 1
  wineboot -i </dev/null >"$root/build/wineboot.log" 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null \
    >>"$root/build/wineboot.log" 2>&1
  # The server keeps the registry in memory until it ends: once more, so that the prefix on disk
  # is whole (a test copies it); and the helpers again, with their output in the file.
  stop_wine
  start_wineserver || return 1
  wineboot </dev/null >>"$root/build/wineboot.log" 2>&1
}

# The Wine processes of this prefix (ours), then the server; helpers outlive a server that is
# merely killed.
stop_wine() {
  [ -n "$wineserver_pid" ] || return 0
  wineserver -k 2>/dev/null || true
  kill "$wineserver_pid" 2>/dev/null || true
  wait "$wineserver_pid" 2>/dev/null || true
  wineserver_pid=
}

# A time server in the namespace $ns at $server_ip, reached from this namespace at $client_ip.
ns=sntp-demo-$$
veth=sntpv$$
client_ip=198.18.123.1
server_ip=198.18.123.2
server_dir=

# The namespace $ns with $server_ip, joined to this one, where $client_ip is, by a veth pair.
make_namespace() {
  ip netns add "$ns"
  ip link add "$veth" type veth peer name "${veth}p"
  ip link set "${veth}p" netns "$ns"
  ip addr add "$client_ip/30" dev "$veth"
  ip link set "$veth" up
  ip netns exec "$ns" ip addr add "$server_ip/30" dev "${veth}p"
  ip netns exec "$ns" ip link set "${veth}p" up
  ip netns exec "$ns" ip link set lo up
}

remove_namespace() {
  ip link del "$veth" 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
}

server_pid=
start_server() {
  server_dir=$(mktemp -d)
  say "starting chronyd in network namespace $ns at $server_ip (client side $client_ip)"
  make_namespace
  start_chronyd "$ns" "$server_dir"
}

# start_chronyd NAMESPACE DIR: chronyd serving its own clock on UDP port 123 in the namespace,
# its files in DIR; sets server_pid, and fails with chronyd's log when it does not serve.
start_chronyd() {
  local namespace=$1 dir=$2
  cat >"$dir/chrony.conf" <<CONF
local stratum 8
allow all
port 123
cmdport 0
pidfile $dir/chronyd.pid
driftfile $dir/drift
CONF
  # ip netns exec runs chronyd in place of itself: $! is chronyd's pid.
  ip netns exec "$namespace" chronyd -d -x -u root -f "$dir/chrony.conf" >"$dir/log" 2>&1 &
  server_pid=$!
  for _ in $(seq 50); do
    server_listening "$namespace" && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! kill -0 "$server_pid" 2>/dev/null || ! server_listening "$namespace"; then
    echo "chronyd did not start serving in $namespace; its log:" >&2
    cat "$dir/log" >&2
    return 1
  fi
}

# Whether something in the namespace holds UDP port 123.
server_listening() {
  ip netns exec "$1" ss -Hlun 'sport = :123' 2>/dev/null | grep -q .
}

stop_server() {
  [ -n "$server_dir" ] || return 0
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
  remove_namespace
  rm -rf "$server_dir"
  server_dir=
}

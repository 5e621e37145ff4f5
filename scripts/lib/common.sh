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

# Wine's helper processes keep the standard output of the first program of a prefix open: they
# are started here, with their output in a file, and one wineserver serves the whole run.
prepare_wine() {
  say "preparing the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineserver -p 2>/dev/null || true  # persistent; already running is fine
  wineboot -i </dev/null >"$root/build/wineboot.log" 2>&1
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

start_server() {
  server_dir=$(mktemp -d)
  say "starting chronyd in network namespace $ns at $server_ip (client side $client_ip)"
  make_namespace
  cat >"$server_dir/chrony.conf" <<CONF
local stratum 8
allow all
port 123
cmdport 0
pidfile $server_dir/chronyd.pid
driftfile $server_dir/drift
CONF
  ip netns exec "$ns" chronyd -d -x -u root -f "$server_dir/chrony.conf" >"$server_dir/log" 2>&1 &
  for _ in $(seq 50); do
    [ -s "$server_dir/chronyd.pid" ] && break
    sleep 0.1
  done
  sleep 0.5
}

stop_server() {
  [ -n "$server_dir" ] || return 0
  if [ -s "$server_dir/chronyd.pid" ]; then kill "$(cat "$server_dir/chronyd.pid")" 2>/dev/null || true; fi
  remove_namespace
  rm -rf "$server_dir"
  server_dir=
}

# Sourced by the namespace tests that run a Windows program under Wine inside a network namespace:
# Windows sockets live in the Wine server's namespace, so the test gets a Wine server of its own,
# started in the namespace, over a copy of the prepared prefix (one prefix has one server).
#   wine_in_namespace NS WORK   copies $WINEPREFIX to WORK/prefix, starts the server in NS and
#                               the helpers with their output in a file; sets WINEPREFIX
#   stop_wine_in_namespace      stops the copy's processes and its server, by the server's pid

wine_ns_server_pid=
wine_ns_prefix=

wine_in_namespace() {
  local ns=$1 work=$2
  cp -a "$WINEPREFIX" "$work/prefix"
  wine_ns_prefix=$work/prefix
  export WINEPREFIX=$wine_ns_prefix WINEDEBUG=-all
  ip netns exec "$ns" wineserver -f -p >"$work/wineserver.log" 2>&1 &
  wine_ns_server_pid=$!
  # The server works in its own folder, where its socket appears once it listens.
  for _ in $(seq 100); do [ -S "/proc/$wine_ns_server_pid/cwd/socket" ] && break; sleep 0.1; done
  if [ ! -S "/proc/$wine_ns_server_pid/cwd/socket" ]; then
    echo "FAIL: the Wine server did not start"
    cat "$work/wineserver.log"
    wine_ns_server_pid=
    return 1
  fi
  # Wine's helper processes, started by the first program, keep its output open: they start
  # here, and every output goes to a file.
  ip netns exec "$ns" wineboot -i </dev/null >"$work/wineboot.log" 2>&1
}

stop_wine_in_namespace() {
  [ -n "$wine_ns_server_pid" ] || return 0
  # The Wine processes of the copied prefix, then its server: helpers outlive a killed server.
  WINEPREFIX=$wine_ns_prefix wineserver -k 2>/dev/null
  kill "$wine_ns_server_pid" 2>/dev/null
  wait "$wine_ns_server_pid" 2>/dev/null
  wine_ns_server_pid=
}

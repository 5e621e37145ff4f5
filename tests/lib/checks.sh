# Sourced by the test scripts that drive the built programs: checks that count their failures, the
# project's responder on 127.0.0.1 started and stopped by its pid, and a program of the build run
# natively or under Wine. The caller sets `mode` (native or wine) and `build` (the build folder).

failures=0
# expect WHAT CONDITION...: runs the condition and reports it.
expect() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
# has TEXT PATTERN: whether the text has a line matching the extended pattern.
has() { grep -qE -- "$2" <<<"$1"; }
finish() {
  [ "$failures" = 0 ] || { echo "$failures failed"; exit 1; }
  echo "PASS"
}

# run_built PROGRAM ARGUMENT...: a program of the build (Wine's carriage returns taken out).
run_built() {
  local program=$1
  shift
  if [ "$mode" = wine ]; then
    (cd "$build" && wine "$program.exe" "$@" </dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
  else
    "$build/$program" "$@"
  fi
}

# start_responder SKEW WORK-DIR: the responder on 127.0.0.1, on a port the system chooses, its
# clock SKEW seconds ahead; sets responder_pid and responder_port.
responder_pid=
responder_port=
start_responder() {
  local log=$2/responder.log
  if [ "$mode" = wine ]; then
    wine "$build/sntpresponder.exe" 127.0.0.1 0 "$1" >"$log" 2>&1 &
  else
    "$build/sntpresponder" 127.0.0.1 0 "$1" >"$log" 2>&1 &
  fi
  responder_pid=$!
  for _ in $(seq 100); do grep -q answering "$log" && break; sleep 0.1; done
  responder_port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$log" | tr -d '\r')
  [ -n "$responder_port" ] || { echo "FAIL: the responder did not start"; cat "$log"; return 1; }
}

stop_responder() {
  [ -n "$responder_pid" ] || return 0
  kill "$responder_pid" 2>/dev/null
  wait "$responder_pid" 2>/dev/null
  responder_pid=
}

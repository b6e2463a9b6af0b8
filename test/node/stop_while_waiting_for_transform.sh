#!/usr/bin/env bash
# Ctrl-C while lidar_obstacle_detector still waits for its first transform: the program ends at
# once with status 0 and "node finishied", and the stop the user asked for logs no errors.
#
#   stop_while_waiting_for_transform.sh PROGRAM
set -u
program=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT

"$program" --ros-args -p debug:=false >"$log" 2>&1 &
pid=$!
# Wait until the node is in its transform wait (it logs the camera group step first).
for _ in $(seq 200); do
  grep -q "begin to build virtual camera group" "$log" && break
  sleep 0.05
done
sleep 0.5
kill -INT "$pid"
status=124
for _ in $(seq 50); do
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    status=$?
    break
  fi
  sleep 0.1
done
[ "$status" -eq 124 ] && kill -KILL "$pid" 2>/dev/null

failed=0
fail() {
  echo "FAILED: $1"
  failed=1
}
[ "$status" -eq 0 ] || fail "exit status $status after SIGINT (124: still running after 5 s)"
tail -n 3 "$log" | grep -q "node finishied" || fail "\"node finishied\" is not among the last lines"
grep -q "configuration stopped: shutdown requested while waiting for the transform" "$log" ||
  fail "no line says why configuration stopped"
# Lines of the stop itself, after the signal: none may be an error or a warning.
for text in "Caught exception in callback for transition" "Error occurred while doing error handling" \
  "Unable to start transition" "Failed to finish transition"; do
  grep -q "$text" "$log" && fail "the stop logged \"$text\""
done
after_signal=$(sed -n '/signal_handler(signum=2)/,$p' "$log")
grep -qE "\[(ERROR|WARN)" <<<"$after_signal" &&
  fail "the stop logged an error or warning: $(grep -E '\[(ERROR|WARN)' <<<"$after_signal" | head -n 3)"
if [ "$failed" -ne 0 ]; then
  echo "---- program output"
  cat "$log"
  exit 1
fi
echo "stopped during the transform wait: status 0, \"node finishied\", no transition errors"

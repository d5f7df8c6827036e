#!/usr/bin/env bash
# Runs Rebound.asi in rebound-sim.exe with a scenario of keyboard messages and
# checks in the trace that the plug-in registered only when the loader called
# DllMain with process attach (at load, before the first frame) and
# unregistered only at process detach (after the last frame), the host started
# the script once, in the first frame, and the keyboard thread's attach and
# detach, which DllMain also sees, changed nothing. A
# native or host call from the wrong thread would have stopped the run.
#
# Usage: host_events_test.sh EMULATOR REBOUND_SIM_EXE SCENARIO TRACE
set -uo pipefail
emulator=$1
exe=$2
scenario=$3
trace=$4

rm -f "$trace"
"$emulator" "$exe" --quiet --scenario "$scenario" --trace "$trace"
status=$?
if [[ $status -ne 0 ]]; then
  echo "host_events_test: rebound-sim.exe exited with status $status"
  exit 1
fi
if [[ ! -s $trace ]]; then
  echo "host_events_test: no trace written to $trace"
  exit 1
fi

# "frame host" for every host event but the frame-by-frame scriptWait.
events=$(sed -n 's/^{"frame":\(-\{0,1\}[0-9]*\),"time":[-0-9]*,"host":"\([A-Za-z]*\)".*/\1 \2/p' "$trace" |
  grep -v ' scriptWait$')
keyboard=$(grep -c ' keyboard$' <<<"$events")
registration=$(grep -v ' keyboard$' <<<"$events")
last_frame=$(sed -n 's/^{"frame":\([0-9]*\),.*/\1/p' "$trace" | tail -n 1)
expected="-1 attach
-1 scriptRegister
-1 keyboardHandlerRegister
0 scriptStart
$last_frame detach
$last_frame scriptUnregister
$last_frame keyboardHandlerUnregister"
failed=0
if [[ $keyboard -eq 0 ]]; then
  echo "host_events_test: the scenario delivered no keyboard message"
  failed=1
fi
if [[ $registration != "$expected" ]]; then
  echo "host_events_test: the registration calls were (frame, event):"
  echo "$registration"
  echo "expected:"
  echo "$expected"
  failed=1
fi
if [[ $failed -eq 0 ]]; then
  echo "host_events_test: registered at load, unregistered after frame $last_frame," \
    "nothing in between across $keyboard keyboard messages"
fi
exit "$failed"

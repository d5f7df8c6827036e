#!/usr/bin/env bash
# Loads a DLL whose DllMain refuses process attach: rebound-sim.exe must stop
# with status 4 (a plug-in that cannot be loaded) and the system's reason; the
# trace streamed to standard output must show the loader's undoing of the load
# (the DLL unregistering at process detach), and a trace file that was there
# must be left as it was.
#
# Usage: refusing_dll_test.sh EMULATOR REBOUND_SIM_EXE DLL TRACE
set -uo pipefail
emulator=$1
exe=$2
dll=$3
trace=$4

rm -f "$trace" "$trace.err"
"$emulator" "$exe" --quiet --plugin "$dll" --trace - >"$trace" 2>"$trace.err"
status=$?
out=$(cat "$trace.err")
echo "$out"
failed=0
if [[ $status -ne 4 ]]; then
  echo "refusing_dll_test: exit status $status, expected 4"
  failed=1
fi
if ! grep -q 'cannot load the plug-in .*(error 1114); its DllMain refused process attach' <<<"$out"; then
  echo "refusing_dll_test: the error does not give the system's reason"
  failed=1
fi
events=$(sed -n 's/^{"frame":-1,"time":[-0-9]*,"host":"\([A-Za-z]*\)".*/\1/p' "$trace" 2>/dev/null |
  tr '\n' ' ')
# The load's fault closes the trace.
if [[ $events != "attach scriptRegister scriptUnregister fault " ]]; then
  echo "refusing_dll_test: host events at load were '$events'," \
    "expected attach, scriptRegister, scriptUnregister and the fault"
  failed=1
fi

# A trace file of an earlier run is not replaced by a run that cannot be.
echo "earlier" >"$trace"
"$emulator" "$exe" --quiet --plugin "$dll" --trace "$trace" 2>/dev/null
status=$?
if [[ $status -ne 4 || $(cat "$trace") != "earlier" ]]; then
  echo "refusing_dll_test: status $status, and the earlier trace was replaced"
  failed=1
fi
exit "$failed"

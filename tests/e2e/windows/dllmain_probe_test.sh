#!/usr/bin/env bash
# Loads the DllMain probe into rebound-sim.exe with a scenario of keyboard
# messages and checks what the probe was told: process attach first and
# process detach last, both on the main thread; the keyboard messages on
# another thread, which the probe saw attach before its first message and
# detach after its last one, while it was still loaded.
#
# Usage: dllmain_probe_test.sh EMULATOR REBOUND_SIM_EXE PROBE_DLL SCENARIO
set -uo pipefail
emulator=$1
exe=$2
probe=$3
scenario=$4

out=$("$emulator" "$exe" --quiet --plugin "$probe" --scenario "$scenario")
status=$?
echo "$out"
if [[ $status -ne 0 ]]; then
  echo "dllmain_probe_test: rebound-sim.exe exited with status $status"
  exit 1
fi

tr -d '\r' <<<"$out" | awk '
  /^probe: / {
    thread = $NF; sub(/^probe: /, ""); sub(/ on thread [0-9]+$/, ""); event = $0
    n++
    if (n == 1) { mainThread = thread; first = event }
    last = event; lastThread = thread
    if (event == "keyboard message") {
      messages++
      if (keyboardThread == "") keyboardThread = thread
      if (thread != keyboardThread) fail("keyboard messages came on more than one thread")
      if (!(thread in attached)) fail("a keyboard message on thread " thread " before its thread attach")
      if (thread in detached) fail("a keyboard message on thread " thread " after its thread detach")
    } else if (event == "thread attach") {
      attached[thread] = n
    } else if (event == "thread detach") {
      detached[thread] = n
    } else if (event == "process detach") {
      processDetach = n
    }
  }
  function fail(why) { print "dllmain_probe_test: " why; failed = 1 }
  END {
    if (first != "process attach") fail("the first call was " first ", not process attach")
    if (last != "process detach" || lastThread != mainThread)
      fail("the last call was " last " on thread " lastThread ", not process detach on the main thread")
    if (messages == 0) fail("no keyboard message reached the probe")
    if (keyboardThread == mainThread) fail("the keyboard messages came on the main thread")
    if (!(keyboardThread in detached) || detached[keyboardThread] > processDetach)
      fail("the keyboard thread did not detach while the probe was loaded")
    if (failed) exit 1
    printf "dllmain_probe_test: process attach, thread attach, %d keyboard messages on thread %s, thread detach, process detach\n", messages, keyboardThread
  }'

#!/usr/bin/env bash
# Ends a process that runs Rebound-recorder.asi from inside a wait, as quitting
# the game does (recorder_exit_probe.cpp), and checks the recording: every
# frame the script ran, then the detach lines, although the system ended the
# recorder's writer thread before the DLL saw process detach.
#
# Usage: recorder_exit_test.sh EMULATOR PROBE_EXE RECORDER_DLL OUT_DIR SOURCE_DIR
set -uo pipefail
emulator=$1
probe=$2
dll=$3
out=$4
source_dir=$5
frames=40

rm -rf "$out"
mkdir -p "$out"
REBOUND_RECORDING_DIR="Z:$out" "$emulator" "$probe" "$dll" "$frames"
status=$?
if [[ $status -ne 0 ]]; then
  echo "recorder_exit_test: the probe exited with status $status"
  exit 1
fi
exec python3 - "$out" "$frames" "$source_dir/tests/tools" <<'PY'
import glob, sys
sys.path.insert(0, sys.argv[3])
import recording_test
out, frames = sys.argv[1], int(sys.argv[2])
files = glob.glob(out + "/Rebound-recording-*.jsonl")
if len(files) != 1:
    sys.exit(f"recorder_exit_test: expected one recording in {out}, found {files}")
header, lines = recording_test.expand(recording_test.read_lines(files[0]))
waits = [line["frame"] for line in lines if line.get("host") == "scriptWait"]
ends = [line.get("host") for line in lines[-3:]]
print(f"recorder_exit_test: {len(lines)} lines, frame base {header['frameBase']}, "
      f"waits in frames {waits[0]}..{waits[-1]}, ending {ends}")
ok = (header["frameBase"] == 5000 and waits == list(range(frames))
      and ends == ["detach", "scriptUnregister", "keyboardHandlerUnregister"])
sys.exit(0 if ok else 1)
PY

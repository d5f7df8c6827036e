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
exec python3 - "$out" "$frames" "$source_dir/scripts/compare-recording.py" <<'PY'
import glob, importlib.util, json, sys
module_source = importlib.util.spec_from_file_location("compare_recording", sys.argv[3])
compare_recording = importlib.util.module_from_spec(module_source)
module_source.loader.exec_module(compare_recording)
out, frames = sys.argv[1], int(sys.argv[2])
files = glob.glob(out + "/Rebound-recording-*.jsonl")
if len(files) != 1:
    sys.exit(f"recorder_exit_test: expected one recording in {out}, found {files}")
with open(files[0], encoding="utf-8") as f:
    header = json.loads(f.readline())
# The lines as the format reads them: repeats written out, frames filled in.
lines, stop = compare_recording.read_recording(files[0])
lines = [line.value for line in lines]
waits = [line["frame"] for line in lines if line.get("host") == "scriptWait"]
ends = [line.get("host") for line in lines[-3:]]
print(f"recorder_exit_test: {len(lines)} lines, frame base {header['frameBase']}, "
      f"waits in frames {waits[0]}..{waits[-1]}, ending {ends}")
ok = (stop is None and header["frameBase"] == 5000 and waits == list(range(frames))
      and ends == ["detach", "scriptUnregister", "keyboardHandlerUnregister"])
sys.exit(0 if ok else 1)
PY

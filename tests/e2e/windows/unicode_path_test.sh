#!/usr/bin/env bash
# Paths outside the legacy code pages reach Windows intact: the plug-in, the
# scenario, the trace and the frame pictures, in a folder and under names with
# such characters, are loaded, read and written by rebound-sim.exe.
#
# Usage: unicode_path_test.sh EMULATOR REBOUND_SIM_EXE PLUGIN SCENARIO WORK_DIR
set -uo pipefail
emulator=$1
exe=$2
plugin=$3
scenario=$4
dir="$5/Ünïcödé 路径 ✓"

rm -rf "$dir"
mkdir -p "$dir"
cp "$plugin" "$dir/Rébound ✓.asi"
cp "$scenario" "$dir/scénario ✓.json"
"$emulator" "$exe" --quiet --plugin "$dir/Rébound ✓.asi" --scenario "$dir/scénario ✓.json" \
  --frames 120 --trace "$dir/trace ✓.jsonl" --frames-svg "$dir/frames ✓" --svg-frames 0,60
status=$?
if [[ $status -ne 0 ]]; then
  echo "unicode_path_test: rebound-sim.exe exited with status $status"
  exit 1
fi
if ! grep -q '"host":"scriptRegister"' "$dir/trace ✓.jsonl" 2>/dev/null; then
  echo "unicode_path_test: no trace with the plug-in's registration in $dir"
  ls -la "$dir"
  exit 1
fi
for frame in 00000 00060; do
  if [[ ! -s "$dir/frames ✓/frame-$frame.svg" ]]; then
    echo "unicode_path_test: no picture of frame $frame in $dir/frames ✓"
    exit 1
  fi
done
echo "unicode_path_test: plug-in, scenario, trace and pictures in $dir"

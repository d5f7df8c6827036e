#!/usr/bin/env bash
# Writes everything rebound-sim makes of the shipped scenarios and the sample
# recordings into one folder, so that a change that should not alter any output
# can be checked with `diff -r` of two snapshots:
#   scripts/output-snapshot.sh build/debug /tmp/before    (on the old commit)
#   scripts/output-snapshot.sh build/debug /tmp/after     (on the new one)
#   diff -r /tmp/before /tmp/after
# Every run is seeded, so the snapshot is the same on every run of one build.
# Each command's terminal output and exit status are kept beside its files.
set -uo pipefail

if [[ $# -ne 2 || $1 == -h || $1 == --help ]]; then
  echo "usage: scripts/output-snapshot.sh BUILD_DIR OUT_DIR" >&2
  echo "  BUILD_DIR holds rebound-sim and the plug-in (e.g. build/debug)" >&2
  exit 2
fi
build=$1
out=$2
sim="$build/rebound-sim"
if [[ ! -x $sim ]]; then
  echo "output-snapshot: $sim is missing; build the tree first" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 2
mkdir -p "$out" || exit 2
out=$(cd "$out" && pwd)

# Runs "$@" with its standard output and error in $out/$name.out and its exit
# status as the file's last line.
capture() {
  local name=$1
  shift
  "$@" >"$out/$name.out" 2>&1
  echo "exit $?" >>"$out/$name.out"
}

for scenario in scenarios/*.json; do
  name=$(basename "$scenario" .json)
  [[ $name == scenario.schema ]] && continue
  capture "run-$name" "$sim" --scenario "$scenario" --seed 7 \
    --trace "$out/$name.trace.jsonl" --report "$out/$name.html" \
    --frames-svg "$out/$name-svg" --svg-frames drawn
  capture "summary-$name" "$sim" --scenario "$scenario" --seed 7 --summary
done
capture run-built-in "$sim" --seed 7 --trace "$out/built-in.trace.jsonl"
capture panel-demo "$sim" panel-demo --out "$out/panel-svg" --svg-debug
capture natives "$sim" natives
capture natives-json "$sim" natives --json
capture schema "$sim" schema
for command in "" run panel-demo replay report scenario-from natives schema; do
  capture "help-${command:-top}" "$sim" $command --help
done

# The seeded traces written above and the sample recordings, through every
# command that reads a recording.
for recording in "$out"/*.trace.jsonl fuzz/corpus/recording/*.jsonl; do
  name=rec-$(basename "$recording" .jsonl)
  capture "$name-replay" "$sim" replay "$recording"
  capture "$name-report" "$sim" report "$recording" --report "$out/$name.html"
  capture "$name-scenario-from" "$sim" scenario-from "$recording" \
    --out "$out/$name.scenario.json"
done
# Paths of the snapshot folder itself appear in some messages, and replay
# prints how fast it checked: make both the same on every run.
find "$out" -type f \( -name '*.out' -o -name '*.html' -o -name '*.json' \) \
  -exec sed -i -E -e "s#$out#OUT#g" \
  -e 's#[0-9.]+ s, [0-9]+ calls per second#(time)#' {} +
echo "output-snapshot: $(find "$out" -type f | wc -l) files in $out"

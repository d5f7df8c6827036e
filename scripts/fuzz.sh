#!/usr/bin/env bash
# Fuzzes one target of the fuzz preset (build/fuzz/fuzz/TARGET) for a bounded
# time, then prints executions per second, the coverage reached (and, for the
# world fuzzer, the frames run). New inputs go to build/fuzz/NAME-corpus
# (seeded from the target's checked-in corpus); an input that breaks an
# invariant is written to build/fuzz/crashes/ and the script fails, naming it.
# Usage: scripts/fuzz.sh [SECONDS [TARGET]]   (default 600 s, world_fuzz)
# Targets: world_fuzz, scenario_fuzz, recording_fuzz, recording_commands_fuzz.
set -euo pipefail

if [[ ${1:-} == -h || ${1:-} == --help ]]; then
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi
seconds=${1:-600}
target=${2:-world_fuzz}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
  echo "fuzz: the time must be a whole number of seconds above 0, not '$seconds'" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
case $target in
  world_fuzz) seeds=("$root/fuzz/corpus/world") ;;
  scenario_fuzz) seeds=("$root/fuzz/corpus/scenario" "$root/scenarios") ;;
  recording_fuzz | recording_commands_fuzz) seeds=("$root/fuzz/corpus/recording") ;;
  *)
    echo "fuzz: no fuzz target '$target' (world_fuzz, scenario_fuzz, recording_fuzz," \
      "recording_commands_fuzz)" >&2
    exit 2
    ;;
esac
name=${target%_fuzz}
build=$root/build/fuzz
fuzzer=$build/fuzz/$target
mkdir -p "$build/$name-corpus" "$build/crashes"
log=$build/$name-fuzz.log
frames=$build/world-fuzz-frames.txt
rm -f "$frames"

# The fuzzer's own status is read straight after the pipeline: anything run
# after it (even `|| true`) would replace it with its own.
set +e
REBOUND_FUZZ_FRAMES_FILE=$frames "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
  -timeout=60 -rss_limit_mb=4096 -artifact_prefix="$build/crashes/" \
  "$build/$name-corpus" "${seeds[@]}" 2>&1 | tee "$log" |
  grep --line-buffered -E '^#[0-9]+.*(pulse|REDUCE|NEW|DONE)' | awk 'NR % 20 == 1'
status=${PIPESTATUS[0]}
set -e

echo
echo "$target, $seconds s:"
# libFuzzer prints its closing figures twice (at the end and at exit).
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" |
  awk '!seen[$0]++' || true
last=$(grep -E '^#[0-9]+' "$log" | grep -E 'cov: ' | tail -1 || true)
if [[ $last =~ cov:\ ([0-9]+)\ ft:\ ([0-9]+) ]]; then
  echo "coverage: ${BASH_REMATCH[1]} edges, ${BASH_REMATCH[2]} features"
fi
if [[ -f $frames ]]; then
  echo "frames run: $(cat "$frames")"
fi
if ((status != 0)); then
  echo "fuzz: the fuzzer stopped with status $status; see $log and $build/crashes/" >&2
  grep -E "^${target}: |SUMMARY|artifact" "$log" >&2 || true
  exit 1
fi

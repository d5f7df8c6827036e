#!/usr/bin/env bash
# Adds up the closing lines of several ctest runs ("N% tests passed, F tests
# failed out of T") into one line for the whole of `make test`.
# Usage: scripts/ctest-summary.sh LOG...
set -euo pipefail

passed=0 failed=0 runs=0
for log in "$@"; do
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
  if [[ -z $line ]]; then
    echo "ctest-summary: no ctest result in $log" >&2
    exit 1
  fi
  [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]
  echo "  $(basename "$log" .log): $((BASH_REMATCH[2] - BASH_REMATCH[1])) passed, ${BASH_REMATCH[1]} failed"
  failed=$((failed + BASH_REMATCH[1]))
  passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  runs=$((runs + 1))
done
if ((runs == 0)); then
  echo "ctest-summary: no logs given" >&2
  exit 1
fi
echo "tests: $passed passed, $failed failed"
if ((passed == 0 || failed != 0)); then exit 1; fi

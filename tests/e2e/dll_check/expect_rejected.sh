#!/usr/bin/env bash
# Runs the DLL import check on a DLL built with a fault and passes only if the
# check rejects it and names that fault.
# Usage: expect_rejected.sh CHECK_SCRIPT DLL EXPECTED_TEXT
set -uo pipefail
check=$1 dll=$2 expected=$3
output=$(bash "$check" "$dll" 2>&1)
status=$?
echo "$output"
if [[ $status -ne 1 ]]; then
  echo "expect_rejected: the check exited with $status, expected 1 (rejected)"
  exit 1
fi
if ! grep -qF -- "$expected" <<<"$output"; then
  echo "expect_rejected: the check did not report: $expected"
  exit 1
fi
echo "expect_rejected: rejected as expected"

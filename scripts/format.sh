#!/usr/bin/env bash
# Applies the checked-in .clang-format to every tracked C++ file, or with
# --check only reports the files that differ from it (and fails if any do).
# Usage: scripts/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
if [[ ${1:-} == --check ]]; then check=1; fi

clang_format=${CLANG_FORMAT:-}
if [[ -z $clang_format ]]; then
  for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" >/dev/null; then
      clang_format=$candidate
      break
    fi
  done
fi
if [[ -z $clang_format ]]; then
  echo "format: clang-format not found (scripts/install-deps.sh installs clang-format-14)" >&2
  exit 2
fi

# Tracked files only: what a fresh clone builds is what is checked.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.h' '*.cpp')
else
  dirs=()
  for d in src sim tools tests bench fuzz; do [[ -d $d ]] && dirs+=("$d"); done
  mapfile -t files < <(find "${dirs[@]}" \( -name '*.h' -o -name '*.cpp' \) | sort)
fi
if ((${#files[@]} == 0)); then
  echo "format: no C++ files found" >&2
  exit 2
fi

if ((check == 0)); then
  "$clang_format" -i -- "${files[@]}"
  echo "format: formatted ${#files[@]} files with $clang_format"
  exit 0
fi

# A file deleted in the work tree but still tracked is not ours to judge.
present=()
for f in "${files[@]}"; do [[ -f $f ]] && present+=("$f"); done
# A few files to a clang-format run, as many runs at once as there are cores:
# each file that differs is named in a diagnostic "FILE:LINE:COL: error: code
# should be clang-formatted".
status=0
said=$(printf '%s\0' "${present[@]}" |
       xargs -0 -n 24 -P "$(nproc)" "$clang_format" --dry-run --Werror -- 2>&1 >/dev/null) || status=$?
mapfile -t unformatted < <(grep -oE '^[^:]+:[0-9]+:[0-9]+: error: code should be clang-formatted' <<<"$said" |
                           cut -d: -f1 | sort -u)
if ((status != 0 && ${#unformatted[@]} == 0)); then
  # It failed, but not over formatting: a check that could not run is no pass.
  echo "format: $clang_format failed (status $status):" >&2
  echo "$said" >&2
  exit 2
fi
if ((${#unformatted[@]} != 0)); then
  echo "format: ${#unformatted[@]} of ${#files[@]} files differ from .clang-format:"
  printf '  %s\n' "${unformatted[@]}"
  echo "format: run 'make format' (or scripts/format.sh) to fix them"
  exit 1
fi
echo "format: all ${#files[@]} tracked C++ files match .clang-format"

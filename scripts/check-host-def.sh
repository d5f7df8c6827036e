#!/usr/bin/env bash
# Checks module-definition files of the script host against the host's
# interface document (the table of decorated export names in host-abi.md):
#   - LIBRARY is ScriptHookV.dll;
#   - each of the host's functions is listed once, by its decorated name;
#   - no other decorated name is listed (such as the older scriptUnregister
#     overload, which the plug-in must not bind to);
#   - no undecorated name is listed (the real host exports none), except the
#     names given with --allow.
# With --surface, the names of the document's table of the host's whole export
# surface may be listed too, each once: a stand-in for the host exports them
# for other plug-ins; the plug-in's own file must not list them.
# Exits 1 on any fault, 2 on bad usage or an unreadable file, and 77 (a skip for
# ctest) when the interface document is not there.
#
# Usage: scripts/check-host-def.sh HOST_ABI_MD [--allow NAME]... [--surface] FILE.def...
set -euo pipefail

usage() {
  echo "usage: $0 HOST_ABI_MD [--allow NAME]... [--surface] FILE.def..." >&2
  exit 2
}
[[ $# -ge 2 ]] || usage
doc=$1
shift
allowed=()
defs=()
surface=0
while [[ $# -gt 0 ]]; do
  case $1 in
    --allow) [[ $# -ge 2 ]] || usage; allowed+=("$2"); shift 2 ;;
    --surface) surface=1; shift ;;
    -h | --help) sed -n '2,16p' "$0"; exit 0 ;;
    *) defs+=("$1"); shift ;;
  esac
done
[[ ${#defs[@]} -gt 0 ]] || usage

if [[ ! -f $doc ]]; then
  echo "check-host-def: SKIPPED: the host's interface document $doc is not there"
  exit 77
fi

# Rows of the export table: | `signature` | `?decorated@@...` |
mapfile -t expected < <(sed -n 's/^|[^|]*| *`\(?[^`]*\)` *|[[:space:]]*$/\1/p' "$doc")
if [[ ${#expected[@]} -ne 8 ]]; then
  echo "check-host-def: $doc: found ${#expected[@]} decorated names in its export table, expected 8" >&2
  exit 2
fi

# The whole export surface's table: every `?decorated` name in its rows.
optional=()
if [[ $surface -eq 1 ]]; then
  mapfile -t optional < <(awk '/^## / { on = /whole export surface/ } on' "$doc" |
    grep '^|' | grep -o '`?[^`]*`' | tr -d '`')
  if [[ ${#optional[@]} -eq 0 ]]; then
    echo "check-host-def: $doc: found no decorated names in the whole export surface's table" >&2
    exit 2
  fi
fi

faults=0
fault() {
  echo "FAULT: $1"
  faults=$((faults + 1))
}

for def in "${defs[@]}"; do
  if [[ ! -f $def ]]; then
    echo "check-host-def: no such file: $def" >&2
    exit 2
  fi
  echo "check-host-def: $def"
  # Without comments and blank lines; the export's name is the first word
  # (an "= internal" alias after it names the function that implements it).
  body=$(sed -e 's/;.*$//' -e 's/[[:space:]]*$//' "$def" | awk 'NF')
  library=$(awk '$1 == "LIBRARY" { print $2 }' <<<"$body")
  if [[ $library != ScriptHookV.dll ]]; then
    fault "$def: LIBRARY is '${library}', not ScriptHookV.dll"
  fi
  mapfile -t names < <(awk '
    $1 == "LIBRARY" { next }
    $1 == "EXPORTS" { inExports = 1; next }
    inExports { name = $1; sub(/=.*/, "", name); print name }' <<<"$body")
  for name in "${expected[@]}"; do
    n=0
    for listed in "${names[@]}"; do [[ $listed == "$name" ]] && n=$((n + 1)); done
    if [[ $n -eq 0 ]]; then
      fault "$def: $name is missing"
    elif [[ $n -gt 1 ]]; then
      fault "$def: $name is listed $n times"
    fi
  done
  for name in "${optional[@]}"; do
    n=0
    for listed in "${names[@]}"; do [[ $listed == "$name" ]] && n=$((n + 1)); done
    if [[ $n -gt 1 ]]; then fault "$def: $name is listed $n times"; fi
  done
  for listed in "${names[@]}"; do
    known=0
    for name in "${expected[@]}" "${allowed[@]}" "${optional[@]}"; do
      [[ $listed == "$name" ]] && known=1
    done
    if [[ $known -eq 0 ]]; then
      if [[ $listed == \?* ]]; then
        fault "$def: $listed is not one of the host's functions"
      else
        fault "$def: $listed is undecorated; the host exports no undecorated names"
      fi
    fi
  done
done

if [[ $faults -ne 0 ]]; then
  echo "check-host-def: REJECTED ($faults faults)"
  exit 1
fi
echo "check-host-def: ${#defs[@]} files list the host's ${#expected[@]} functions as $doc does"

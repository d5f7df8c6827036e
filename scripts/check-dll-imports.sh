#!/usr/bin/env bash
# Checks a built Windows plug-in the way the game's loader will see it:
#   - it imports only from Windows system DLLs and ScriptHookV.dll (a runtime
#     DLL such as libstdc++-6.dll that is not in the game folder makes the
#     loader drop the plug-in without a word);
#   - ScriptHookV.dll supplies exactly the host's eight functions, by their
#     decorated names, no more and no fewer;
#   - nothing is imported by ordinal or delay-loaded;
#   - the DLL exports nothing.
# Prints what it found; exits 1 on any fault, 2 when it cannot read the file.
#
# Usage: scripts/check-dll-imports.sh FILE
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 FILE" >&2
  exit 2
fi
file=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

# Windows system DLLs the plug-in may import from (matched without regard to
# case, as the Windows loader matches them).
allowed_system_dlls=(
  kernel32.dll
  user32.dll
  advapi32.dll
  msvcrt.dll
  ucrtbase.dll
  'api-ms-win-crt-*.dll'
)
host_dll=ScriptHookV.dll
host_functions=(
  '?scriptRegister@@YAXPEAUHINSTANCE__@@P6AXXZ@Z'
  '?scriptUnregister@@YAXPEAUHINSTANCE__@@@Z'
  '?keyboardHandlerRegister@@YAXP6AXKGEHHHH@Z@Z'
  '?keyboardHandlerUnregister@@YAXP6AXKGEHHHH@Z@Z'
  '?scriptWait@@YAXK@Z'
  '?nativeInit@@YAX_K@Z'
  '?nativePush64@@YAX_K@Z'
  '?nativeCall@@YAPEA_KXZ'
)

if [[ ! -f $file ]]; then
  echo "check-dll-imports: no such file: $file" >&2
  exit 2
fi
if ! dump=$("$objdump" -p "$file" 2>&1); then
  echo "check-dll-imports: $objdump cannot read $file:" >&2
  echo "$dump" >&2
  exit 2
fi
if ! grep -q 'file format pei-x86-64' <<<"$dump"; then
  echo "check-dll-imports: $file is not a 64-bit Windows DLL" >&2
  exit 2
fi

# One line per import, "DLL<TAB>name"; an import by ordinal has no name and
# is written as "#ordinal".
imports=$(awk '
  /^\tDLL Name: / { dll = substr($0, index($0, ":") + 2); sub(/[ \t\r]+$/, "", dll); inDll = 1; next }
  inDll && /^[ \t]*$/ { inDll = 0; next }
  inDll && /^\tvma:/ { next }
  inDll {
    # "\t<vma>\t <hint> <name>" ; an ordinal import shows "<none>" or no name.
    line = $0; sub(/^[ \t]+/, "", line)
    n = split(line, f, /[ \t]+/)
    if (n >= 3 && f[3] != "<none>") print dll "\t" f[3]; else print dll "\t#" f[2]
  }' <<<"$dump")

# Export counts from the export directory ("Number in:" block).
export_entries=$(awk '
  /^Number in:/ { inNumbers = 1; next }
  inNumbers && /Export Address Table/ { addr = $NF }
  inNumbers && /Name Pointer\/Ordinal\] Table/ { names = $NF; inNumbers = 0 }
  END { if (addr == "") addr = "0"; if (names == "") names = "0"; print addr, names }' <<<"$dump")
read -r export_addresses export_names <<<"$export_entries"
export_addresses=$((16#$export_addresses))
export_names=$((16#$export_names))
export_list=$(awk '
  /^\[Ordinal\/Name Pointer\] Table/ { inNames = 1; next }
  inNames && /^[ \t]*$/ { exit }
  inNames { sub(/^[ \t]+/, ""); print }' <<<"$dump")

delay_size=$(awk '/^Entry d / { print $3 }' <<<"$dump")
delay_size=$((16#${delay_size:-0}))

faults=()
fault() { faults+=("$1"); }

echo "check-dll-imports: $file"
echo "Imported DLLs:"
dlls=$(cut -f1 <<<"$imports" | awk 'NF' | sort -uf)
if [[ -z $dlls ]]; then
  fault "no import table found"
fi
while IFS= read -r dll; do
  [[ -z $dll ]] && continue
  count=$(awk -F'\t' -v d="$dll" 'tolower($1) == tolower(d)' <<<"$imports" | wc -l)
  lower=${dll,,}
  verdict=""
  if [[ $lower == "${host_dll,,}" ]]; then
    verdict="the script host"
  else
    for pattern in "${allowed_system_dlls[@]}"; do
      # shellcheck disable=SC2053  # the pattern is meant to glob
      if [[ $lower == $pattern ]]; then verdict="Windows system DLL"; fi
    done
  fi
  if [[ -z $verdict ]]; then
    verdict="NOT ALLOWED"
    hint=""
    if [[ $lower == lib*.dll ]]; then hint=" (a MinGW runtime DLL: link the runtime statically)"; fi
    fault "imports from $dll, which is neither a Windows system DLL nor $host_dll$hint"
  fi
  printf '  %-32s %4d functions  (%s)\n' "$dll" "$count" "$verdict"
done <<<"$dlls"

ordinals=$(awk -F'\t' '$2 ~ /^#/' <<<"$imports")
if [[ -n $ordinals ]]; then
  while IFS=$'\t' read -r dll ord; do
    fault "imports ordinal $((10#${ord#\#})) of $dll: imports must be by name"
  done <<<"$ordinals"
fi

host_imports=$(awk -F'\t' -v d="$host_dll" 'tolower($1) == tolower(d) { print $2 }' <<<"$imports")
echo "Functions imported from $host_dll:"
if [[ -z $host_imports ]]; then
  echo "  (none)"
  fault "$host_dll is not imported"
else
  sed 's/^/  /' <<<"$host_imports"
fi
for name in "${host_functions[@]}"; do
  n=$(grep -cxF -- "$name" <<<"$host_imports" || true)
  if [[ $n -eq 0 ]]; then
    fault "$host_dll does not supply $name"
  elif [[ $n -gt 1 ]]; then
    fault "$host_dll supplies $name $n times"
  fi
done
while IFS= read -r name; do
  [[ -z $name ]] && continue
  known=0
  for expected in "${host_functions[@]}"; do
    if [[ $name == "$expected" ]]; then known=1; fi
  done
  if [[ $known -eq 0 ]]; then
    fault "$host_dll is asked for $name, which is not one of the host's eight functions"
  fi
done <<<"$host_imports"

if ((delay_size != 0)); then
  fault "has a delay-load import table"
fi

echo "Exports: $export_names names, $export_addresses addresses"
if ((export_names != 0 || export_addresses != 0)); then
  if [[ -n $export_list ]]; then
    sed 's/^/  /' <<<"$export_list" | head -20
  fi
  fault "exports $export_names names and $export_addresses addresses; the plug-in must export nothing"
fi

if ((${#faults[@]} != 0)); then
  for f in "${faults[@]}"; do echo "FAULT: $f"; done
  echo "check-dll-imports: $file is REJECTED (${#faults[@]} faults)"
  exit 1
fi
echo "check-dll-imports: $file is accepted"

#!/usr/bin/env bash
# The host's module-definition files against the host's interface document:
# the plug-in's cmake/ScriptHookV.def and the simulator's stand-in .def, which
# the build writes from sim/host/host_functions.h, must list exactly the
# documented decorated names; and copies of the plug-in's file with one fault each must be rejected
# for that fault, so that the check is known to look.
#
# Usage: host_def_test.sh SOURCE_DIR HOST_ABI_MD [STAND_IN_DEF]
# (without the simulator built there is no stand-in's file to check)
set -uo pipefail
src=$1
doc=$2
check=$src/scripts/check-host-def.sh
plugin_def=$src/cmake/ScriptHookV.def
standin_def=(${3:+"$3"})

bash "$check" "$doc" "$plugin_def"
status=$?
if [[ $status -ne 0 ]]; then exit "$status"; fi
# The stand-in exports the rest of the host's surface too, for other plug-ins.
if [[ ${#standin_def[@]} -gt 0 ]]; then
  bash "$check" "$doc" --allow ReboundSimInstallHost --surface "${standin_def[@]}"
  status=$?
  if [[ $status -ne 0 ]]; then exit "$status"; fi
  out=$(grep -c '^    ?' "${standin_def[0]}")
  echo "host_def_test: the stand-in exports $out decorated names"
  # Names outside the document's tables, and a surface name twice, are
  # rejected in the stand-in's file as in the plug-in's.
  standin_cases=(
    "unknown|\$a\\    ?getGameBuild@@YAHXZ|?getGameBuild@@YAHXZ is not one of the host's functions"
    "surface-twice|/?getGlobalPtr@@YAPEA_KH@Z/p|?getGlobalPtr@@YAPEA_KH@Z is listed 2 times"
  )
  standin_work=$(mktemp -d)
  for c in "${standin_cases[@]}"; do
    IFS='|' read -r name edit expected <<<"$c"
    sed -e "$edit" "${standin_def[0]}" >"$standin_work/$name.def"
    out=$(bash "$check" "$doc" --allow ReboundSimInstallHost --surface "$standin_work/$name.def" 2>&1)
    if [[ $? -ne 1 ]] || ! grep -qF -- "$expected" <<<"$out"; then
      echo "host_def_test: the stand-in's $name fault was not rejected as expected ($expected):"
      echo "$out"
      rm -rf "$standin_work"
      exit 1
    fi
    echo "host_def_test: the stand-in's $name fault is rejected"
  done
  rm -rf "$standin_work"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
# Each case: a name, a sed script that puts one fault into the plug-in's file,
# and the words the rejection must contain.
cases=(
  "missing|/?nativePush64@@YAX_K@Z/d|?nativePush64@@YAX_K@Z is missing"
  "twice|/?scriptWait@@YAXK@Z/p|?scriptWait@@YAXK@Z is listed 2 times"
  "old-overload|\$a\\    ?scriptUnregister@@YAXP6AXXZ@Z|?scriptUnregister@@YAXP6AXXZ@Z is not one of the host's functions"
  "undecorated|\$a\\    scriptWait|scriptWait is undecorated"
  "library|s/^LIBRARY .*/LIBRARY ScriptHook.dll/|LIBRARY is 'ScriptHook.dll'"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name edit expected <<<"$c"
  sed -e "$edit" "$plugin_def" >"$work/$name.def"
  out=$(bash "$check" "$doc" "$work/$name.def" 2>&1)
  status=$?
  if [[ $status -ne 1 ]] || ! grep -qF -- "$expected" <<<"$out"; then
    echo "host_def_test: the $name fault was not rejected as expected ($expected); got status $status:"
    echo "$out"
    failed=1
  else
    echo "host_def_test: the $name fault is rejected"
  fi
done
exit "$failed"

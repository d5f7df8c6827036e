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
# The stand-in exports more of the host than the plug-in binds to: its
# installer, and the functions for more than one script per module.
if [[ ${#standin_def[@]} -gt 0 ]]; then
  bash "$check" "$doc" --allow ReboundSimInstallHost \
    --allow '?scriptRegisterAdditionalThread@@YAXPEAUHINSTANCE__@@P6AXXZ@Z' \
    --allow '?scriptUnregister@@YAXP6AXXZ@Z' "${standin_def[@]}"
  status=$?
  if [[ $status -ne 0 ]]; then exit "$status"; fi
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

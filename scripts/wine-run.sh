#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, in the project's own prefix, so
# that tests never touch a user's ~/.wine and never wait for a display. The
# Windows build's tests run every program through this script (CMake's
# cross-compiling emulator).
#
# The prefix is made on first use and kept outside the clone, one per Wine
# version, in the user's cache folder ($XDG_CACHE_HOME or ~/.cache,
# rebound/wineprefix-VERSION): making one takes Wine about 15 seconds, and a
# fresh clone of the project on the same machine reuses it. A cache folder
# that cannot be written gives way to build/wineprefix in the clone.
#
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
#
# REBOUND_WINEPREFIX overrides the prefix. The exit status is the program's.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko installer prompts, no display, no desktop integration.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

wine_bin=$(command -v wine64 || command -v wine || true)
if [[ -z $wine_bin ]]; then
  for candidate in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
    if [[ -x $candidate ]]; then wine_bin=$candidate; break; fi
  done
fi
if [[ -z $wine_bin ]]; then
  echo "wine-run: Wine is not installed (scripts/install-deps.sh installs it)" >&2
  exit 127
fi
server_bin=$(command -v wineserver || true)
for candidate in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
  if [[ -z $server_bin && -x $candidate ]]; then server_bin=$candidate; fi
done

# A prefix of the user's own (REBOUND_WINEPREFIX) is only ever added to.
own=
if [[ -n ${REBOUND_WINEPREFIX:-} ]]; then
  WINEPREFIX=$REBOUND_WINEPREFIX
else
  own=1
  version=$("$wine_bin" --version 2>/dev/null || true)
  version=${version//[^A-Za-z0-9.-]/_}
  WINEPREFIX="${XDG_CACHE_HOME:-$HOME/.cache}/rebound/wineprefix-${version:-unknown}"
  if ! mkdir -p "$WINEPREFIX" 2>/dev/null || [[ ! -w $WINEPREFIX ]]; then
    WINEPREFIX=$root/build/wineprefix
  fi
fi
export WINEPREFIX
mkdir -p "$WINEPREFIX"
# Several tests (and clones) start at once: only one of them makes the prefix,
# the others wait for it. Our own prefix is whole once it bears the mark
# written after Wine finished making it; one without (its maker was stopped
# halfway) is emptied and made again.
ready=$WINEPREFIX/.rebound-prefix-ready
exec 9>"$WINEPREFIX.lock"
flock 9
if [[ -n $own && ! -f $ready ]] || [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "wine-run: making the Wine prefix $WINEPREFIX (once)" >&2
  if [[ -n $own ]]; then find "$WINEPREFIX" -mindepth 1 -delete 2>/dev/null || true; fi
  "$wine_bin" wineboot --init >/dev/null 2>&1 </dev/null || true
  if [[ -n $server_bin ]]; then "$server_bin" --wait >/dev/null 2>&1 </dev/null || true; fi
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "wine-run: could not make the Wine prefix $WINEPREFIX" >&2
    exit 127
  fi
  if [[ -n $own ]]; then touch "$ready"; fi
fi
# One server for the whole test run, with no terminal of ours held open by it,
# lingering a little after its last program so that the next test reuses it.
# A fresh server's first program starts Wine's own services, which inherit that
# program's standard handles and hold them until the server ends: a caller that
# reads the program's output through a pipe (ctest) would wait for that too.
# So a fresh server gets a first program here, with none of our handles.
if [[ -n $server_bin ]]; then
  if "$server_bin" --persistent=20 >/dev/null 2>&1 </dev/null; then
    "$wine_bin" cmd.exe /c exit 0 >/dev/null 2>&1 </dev/null || true
  fi
fi
flock -u 9
exec 9>&-

# Should Wine's services start with the program all the same (a server still
# lingering after they ended), they would hold its output open as above. Into
# a pipe or a file, the output therefore goes through temporary files that are
# shown once the program itself has exited.
if [[ -t 1 && -t 2 ]]; then
  exec "$wine_bin" "$@"
fi
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
run_once() {
  status=0
  "$wine_bin" "$@" >"$out" 2>"$err" &
  wait $! || status=$?
}
run_once "$@"
# A program that fails says why; one that failed without a word never ran
# (Wine lost its server while starting it, as when the lingering server ends
# just then). That is tried once more, and said.
if ((status != 0)) && [[ ! -s $out && ! -s $err ]]; then
  echo "wine-run: $1 ended with status $status before printing anything; running it again" >&2
  run_once "$@"
fi
cat "$out"
cat "$err" >&2
exit "$status"

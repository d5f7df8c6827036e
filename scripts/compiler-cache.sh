#!/bin/sh
# The compiler launcher of every preset (CMAKE_CXX_COMPILER_LAUNCHER): the
# compile goes through ccache when it is installed, otherwise straight to the
# compiler, so a missing cache never fails a build.
#
# One cache serves every clone on the machine: it lives outside the clone
# (ccache's own default folder, or CCACHE_DIR), paths inside the clone are
# hashed relative to the build folder, and the build folder's own path is not
# hashed. A fresh clone of a commit therefore reuses what an earlier clone on
# the same machine compiled. REBOUND_NO_CCACHE=1 compiles without it.
#
#   scripts/compiler-cache.sh COMPILER ARGS...
root=${0%/scripts/*}
case $root in /*) ;; *) root=$(cd "$(dirname "$0")/.." && pwd) ;; esac

# A precompiled header (`-x c++-header`: GoogleTest's, tests/CMakeLists.txt)
# is made from a copy of its source in a folder of the machine's cache named
# by the source's checksum, written there and moved to where the build
# asked: clang records the paths of both, and a header that differed from
# clone to clone would take every compile that uses it out of the cache.
# (Named by content, a copy is never changed under a header made from it.)
# One compile at a time writes there. Without a cache folder it is made
# where asked.
precompiled_header() {
  pch_dir=${XDG_CACHE_HOME:-$HOME/.cache}/rebound-pch
  mkdir -p "$pch_dir" 2>/dev/null && [ -w "$pch_dir" ] && command -v flock >/dev/null 2>&1 ||
    exec "$@"
  source=
  next=
  for arg do
    [ "$next" = -c ] && source=$arg
    next=$arg
  done
  [ -f "$source" ] || exec "$@"
  work=$pch_dir/$(cksum <"$source" | cut -d ' ' -f 1)
  out=
  next=
  for arg do
    shift
    case $next in
      -o) out=$arg arg=$work/header.pch ;;
      -c) arg=$work/${arg##*/} ;;
    esac
    next=$arg
    set -- "$@" "$arg"
  done
  [ -n "$out" ] || exec "$@"
  (
    flock 9 || exit 1
    mkdir -p "$work" && { [ -f "$work/${source##*/}" ] || cp "$source" "$work/${source##*/}"; } &&
      "$@" && cp "$work/header.pch" "$out.tmp" && mv -f "$out.tmp" "$out"
  ) 9>"$pch_dir/lock"
  exit $?
}
case " $* " in *" -x c++-header "*) precompiled_header "$@" ;; esac

if [ -z "${REBOUND_NO_CCACHE:-}" ] && command -v ccache >/dev/null 2>&1; then
  dir=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ccache}
  # A cache that cannot be written is no cache: compile without it.
  if mkdir -p "$dir" 2>/dev/null && [ -w "$dir" ]; then
    export CCACHE_BASEDIR="$root"
    export CCACHE_NOHASHDIR=1
    # Precompiled headers are cached as the ccache manual asks.
    export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
    exec ccache "$@"
  fi
fi
exec "$@"

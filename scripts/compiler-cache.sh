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

# The compilers' heap goes into transparent huge pages where the kernel hands
# them out on request (glibc 2.35 and later; older ones ignore the setting):
# clang spends much of a compile taking page faults on fresh heap, and a
# test file compiled about 13 % quicker so. The compilers' output is the same.
case ":${GLIBC_TUNABLES:-}:" in
  *:glibc.malloc.hugetlb=*) ;;
  *) export GLIBC_TUNABLES="${GLIBC_TUNABLES:+$GLIBC_TUNABLES:}glibc.malloc.hugetlb=1" ;;
esac

root=${0%/scripts/*}
case $root in /*) ;; *) root=$(cd "$(dirname "$0")/.." && pwd) ;; esac

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

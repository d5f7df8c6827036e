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

# A precompiled header (clang's -emit-pch) is compiled without the cache: the
# cache would hand a fresh clone a header made in another clone, which names
# that clone's files. Its bytes name this clone's, so beside it goes
# HEADER.sum, a checksum of what it was made from (the command and every file
# it read, the clone's path left out, and the compiler), and ccache hashes
# that in the header's place (pch_external_checksum) when it compiles a file
# that uses it: those files then come from the cache in any clone. When the
# checksum cannot be made there is no .sum, and ccache hashes the header.
case " $* " in
  *" -emit-pch "*)
    out='' depfile='' previous=''
    for arg in "$@"; do
      case $previous in -o) out=$arg ;; -MF) depfile=$arg ;; esac
      previous=$arg
    done
    [ -n "$out" ] && rm -f "$out.sum"
    "$@" || exit
    if [ -n "$out" ] && [ -n "$depfile" ] && [ -f "$depfile" ]; then
      compiler=$(command -v "$1")
      # The depfile's first line opens with the header's own name and a colon.
      if inputs=$(sed -e 's/\\$//' -e '1s/^[^:]*://' "$depfile" | tr -s ' \t' '\n\n' | grep .) &&
         files=$(printf '%s\n' "$inputs" | xargs sha256sum) &&
         identity=$(stat -L -c '%s %Y' "$compiler" && "$compiler" --version) &&
         sum=$(printf '%s\n' "$@" "$identity" "$files" | sed "s|$root|<clone>|g" | sha256sum); then
        printf '%s\n' "${sum%% *}" > "$out.sum.tmp" && mv "$out.sum.tmp" "$out.sum"
      fi
    fi
    exit 0
    ;;
esac

if [ -z "${REBOUND_NO_CCACHE:-}" ] && command -v ccache >/dev/null 2>&1; then
  dir=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ccache}
  # A cache that cannot be written is no cache: compile without it.
  if mkdir -p "$dir" 2>/dev/null && [ -w "$dir" ]; then
    export CCACHE_BASEDIR="$root"
    export CCACHE_NOHASHDIR=1
    # Precompiled headers are cached as the ccache manual asks.
    export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
    export CCACHE_PCH_EXTSUM="${CCACHE_PCH_EXTSUM:-1}"
    # A file compiled with a precompiled header gets it twice from CMake: the
    # header (-Xclang -include-pch HEADER.pch), and the header it was made
    # from (-Xclang -include HEADER), which adds nothing after it: everything
    # it includes is already defined. ccache hashes the former's path relative
    # to the clone, the latter's as it stands, so the latter is left out.
    a='' b='' c='' i=0 made_from=0
    for arg in "$@"; do
      i=$((i + 1))
      if [ "$a $b $c" = "-Xclang -include -Xclang" ]; then
        case " $* " in *" $arg.pch "*) made_from=$i ;; esac
      fi
      a=$b b=$c c=$arg
    done
    if [ "$made_from" -gt 0 ]; then
      i=0
      for arg do
        shift
        i=$((i + 1))
        [ "$i" -ge $((made_from - 3)) ] && [ "$i" -le "$made_from" ] || set -- "$@" "$arg"
      done
    fi
    exec ccache "$@"
  fi
fi
exec "$@"

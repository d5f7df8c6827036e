#!/bin/sh
# The compiler and linker launcher of the windows tree's test programs and
# GoogleTest (REBOUND_MINGW_CLANG): CMake hands it a MinGW-w64 g++ command,
# and it does the same with clang 14 for the same target, and links with lld.
# clang compiled these files at -O0 in about 40 % less time than g++ at -Og;
# lld linked a test program in 0.3 s where GNU ld (the only linker that
# Debian's MinGW-w64 g++ runs) took 4 s. Nothing made so ships: the plug-in,
# the simulator and rebound-sim.exe stay with g++, and the test programs link
# them in. So what clang makes must agree with what g++ made:
#   - compiled against that g++'s own libstdc++ headers, not the host's
#     (clang looks for MinGW-w64's where Debian does not put them), and
#     linked with its libstdc++, libgcc and winpthreads (g++ adds -lpthread
#     to every link, clang does not);
#   - thread_local as g++ does it on Windows (emulated, through libgcc), as
#     a test may read one the simulator defines;
#   - type_info compared as g++ does it on Windows: by name, through
#     libstdc++'s own operator== (g++ predefines these two macros for the
#     target, clang does not, and would define that operator inline: twice
#     defined at the link);
#   - an inline variable that starts at zero in .data, where g++ puts it:
#     clang's in .bss would be a second definition beside g++'s;
#   - g++'s option for dllexported inline functions has no clang equivalent:
#     these programs export nothing, so it is left out; and the warning
#     options clang does not know are not errors.
#
#   scripts/mingw-clang.sh GCC-DIR MINGW-G++ ARGS...          (a compile)
#   scripts/mingw-clang.sh --link GCC-DIR MINGW-G++ ARGS...   (a link)
#
# GCC-DIR is that g++'s own folder, with its include/c++ and its libraries
# (CMake asks it once, when the tree is configured).

link=''
if [ "${1:-}" = --link ]; then
  link=1
  shift
fi
if [ $# -lt 2 ] || [ ! -d "${1:-}/include/c++/x86_64-w64-mingw32" ]; then
  echo "mingw-clang.sh: expected the folder of MinGW-w64's g++ (with include/c++), then its command; got '${1:-}'" >&2
  exit 2
fi
gcc_dir=$1
shift
case $1 in
  *mingw32-g++*) shift ;;
  *) echo "mingw-clang.sh: expected a MinGW-w64 g++ command, got '$1'" >&2; exit 2 ;;
esac

if [ -n "$link" ]; then
  exec clang++-14 --target=x86_64-w64-mingw32 -fuse-ld=lld -L"$gcc_dir" "$@" -lpthread
fi

for arg do
  shift
  case $arg in
    -fno-keep-inline-dllexport) ;;
    *) set -- "$@" "$arg" ;;
  esac
done

cxx_include=$gcc_dir/include/c++
root=${0%/scripts/*}
case $root in /*) ;; *) root=$(cd "$(dirname "$0")/.." && pwd) ;; esac
exec "$root/scripts/compiler-cache.sh" clang++-14 --target=x86_64-w64-mingw32 -femulated-tls \
  -D__GXX_MERGED_TYPEINFO_NAMES=0 -D__GXX_TYPEINFO_EQUALITY_INLINE=0 \
  -fno-zero-initialized-in-bss -nostdinc++ -isystem "$cxx_include" \
  -isystem "$cxx_include/x86_64-w64-mingw32" -isystem "$cxx_include/backward" \
  -Wno-unknown-warning-option "$@"

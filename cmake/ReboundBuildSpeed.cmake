# How the trees that `make test` builds are kept quick to build, each an
# option that the presets set (CMakePresets.json says which tree has which):
#
#   REBOUND_UNITY        the test programs compiled as unity builds, a few
#                        files to a compiler run, so that the headers they all
#                        include (GoogleTest, the simulator's) are read once a
#                        batch; the simulator's layers too, on Linux and in a
#                        Windows tree without REBOUND_LTO; and the plug-in's
#                        core libraries in the sanitizer trees only, where
#                        nothing is shipped or counted. Never elsewhere:
#                        Rebound.asi is the same bytes in every tree, and the
#                        release tree's module is what `make count` counts.
#   REBOUND_LTO          a release simulator optimised across its files (g++'s
#                        link-time optimisation), as `make dist`, `make count`
#                        and `make bench` build it. The windows test tree goes
#                        without: its rebound-sim.exe only runs the tests.
#   REBOUND_LLD          everything linked with lld, in the Linux trees
#                        (nothing there ships), where GNU ld took seconds a
#                        program. Not in the windows tree: Debian's MinGW-w64
#                        g++ is built to run GNU ld and ignores -fuse-ld.
#   REBOUND_SPLIT_DWARF  debug information left in .dwo files beside the
#                        objects (-gsplit-dwarf), so that links copy less.
#   REBOUND_OG           the simulator, its programs, GoogleTest and the test
#                        programs compiled with -Og in a release tree that
#                        only tests (the windows one): about a third less
#                        compile time than the build type's -O3. Never the
#                        plug-in, which keeps the flags it ships with.
#   REBOUND_MINGW_CLANG  in the windows tree, the test programs and GoogleTest
#                        compiled by clang 14 for MinGW-w64 at -O0 and the
#                        test programs linked with lld (through
#                        scripts/mingw-clang.sh): about 40 % less compile
#                        time than g++ at -Og, and under a tenth of GNU
#                        ld's link time. The plug-in and the simulator they
#                        link in are still g++'s.
#   REBOUND_PCH          precompiled headers: one that the GoogleTest programs
#                        share, one that the simulator's layers share (clang
#                        only: g++'s was larger than the time it saved). Only
#                        with REBOUND_UNITY: a header that every file sees
#                        would hide a missing include.
#   REBOUND_GTEST_PCH    in a tree that compiles every file on its own (clang):
#                        GoogleTest precompiled once, for the test files whose
#                        first include is <gtest/gtest.h>, and only for them.
#                        Such a file sees exactly what it would see without,
#                        so a missing include still fails; about a third of a
#                        small test file's compile time was GoogleTest's.
#
# The debug tree sets none of the unity options: it compiles every file on its
# own, so that a file missing an include still fails there.

option(REBOUND_UNITY "Compile the test programs (and the simulator where it is not link-time optimised) as unity builds" OFF)
# Source files a batch holds. The test trees take 16: from nothing, about 6 %
# less CPU time than with 8 in the windows tree (which has no precompiled
# header to share) and in the asan tree. The release tree keeps 8: its
# simulator is what `make count` counts.
set(REBOUND_UNITY_BATCH_SIZE 8 CACHE STRING "Source files a unity batch holds")
option(REBOUND_LTO "Optimise a release simulator across its files (link-time optimisation)" ON)
option(REBOUND_LLD "Link everything with lld (Linux trees)" OFF)
if(REBOUND_LLD AND WIN32)
  message(WARNING "REBOUND_LLD does nothing in a MinGW-w64 tree: its g++ links with GNU ld whatever -fuse-ld says")
endif()
option(REBOUND_SPLIT_DWARF "Keep debug information in .dwo files beside the objects" OFF)
option(REBOUND_OG "Compile the simulator and the tests with -Og, never the plug-in" OFF)
option(REBOUND_MINGW_CLANG "Compile the Windows test programs and GoogleTest with clang for MinGW-w64" OFF)
if(REBOUND_MINGW_CLANG)
  if(NOT (WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"))
    message(FATAL_ERROR "REBOUND_MINGW_CLANG needs the MinGW-w64 g++ cross-build")
  endif()
  # scripts/mingw-clang.sh runs these two by name.
  find_program(REBOUND_MINGW_CLANG_COMPILER clang++-14 REQUIRED)
  find_program(REBOUND_MINGW_CLANG_LINKER ld.lld REQUIRED)
  # The g++'s own folder: clang compiles against its libstdc++ headers and
  # links its libraries.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
                  OUTPUT_VARIABLE gxx_include OUTPUT_STRIP_TRAILING_WHITESPACE)
  cmake_path(GET gxx_include PARENT_PATH REBOUND_MINGW_GCC_DIR)
  if(NOT IS_DIRECTORY ${REBOUND_MINGW_GCC_DIR}/include/c++/x86_64-w64-mingw32)
    message(FATAL_ERROR "REBOUND_MINGW_CLANG: no libstdc++ headers of ${CMAKE_CXX_COMPILER} "
                        "in ${REBOUND_MINGW_GCC_DIR}/include/c++")
  endif()
endif()
option(REBOUND_PCH "Shared precompiled headers for the test programs and the simulator (clang, unity trees)" OFF)
if(REBOUND_PCH AND NOT (REBOUND_UNITY AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
  message(FATAL_ERROR "REBOUND_PCH needs clang and REBOUND_UNITY")
endif()
option(REBOUND_GTEST_PCH "GoogleTest precompiled for the test files that include it first (clang, trees without REBOUND_UNITY)" OFF)
if(REBOUND_GTEST_PCH AND (REBOUND_UNITY OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
  message(FATAL_ERROR "REBOUND_GTEST_PCH needs clang, and a tree without REBOUND_UNITY (which has REBOUND_PCH)")
endif()

if(REBOUND_LLD AND NOT WIN32)
  add_link_options(-fuse-ld=lld)
endif()
if(REBOUND_SPLIT_DWARF AND NOT WIN32)
  add_compile_options($<$<CONFIG:Debug>:-gsplit-dwarf>)
endif()

# A target that only the tests run (nothing of it ships from this tree),
# compiled with -Og when REBOUND_OG is on: after the build type's flags, so
# that it is the level the compiler keeps.
function(rebound_og target)
  if(REBOUND_OG)
    target_compile_options(${target} PRIVATE -Og)
  endif()
endfunction()

# A target that only the tests run, compiled by clang at -O0 when
# REBOUND_MINGW_CLANG is on, else as rebound_og() says.
function(rebound_test_compiler target)
  if(REBOUND_MINGW_CLANG)
    set_target_properties(${target} PROPERTIES
      CXX_COMPILER_LAUNCHER "${PROJECT_SOURCE_DIR}/scripts/mingw-clang.sh;${REBOUND_MINGW_GCC_DIR}"
      CXX_LINKER_LAUNCHER "${PROJECT_SOURCE_DIR}/scripts/mingw-clang.sh;--link;${REBOUND_MINGW_GCC_DIR}")
    target_compile_options(${target} PRIVATE -O0)
  else()
    rebound_og(${target})
  endif()
endfunction()

# In the tsan tree, a target that the tests run every frame: the plug-in and
# the simulator's layers from base to host (REBOUND_TSAN_OPTIMISED_LAYERS),
# compiled at -O1, as ThreadSanitizer slows plain debug code the most. The
# recording, replay and report layers, the programs' own files and the test
# files, which a test passes through once or not at all, stay at -O0: -O1 with
# ThreadSanitizer costs the compiler about twice the time, and the tree
# compiled in a third less CPU time for tests a tenth slower.
set(REBOUND_TSAN_OPTIMISED_LAYERS base platform game observe host)
function(rebound_tsan_optimise target)
  if(REBOUND_TSAN)
    target_compile_options(${target} PRIVATE -O1)
    set_property(TARGET ${target} PROPERTY REBOUND_OPTIMISED ON)
  endif()
endfunction()

# A target compiled as a unity build when REBOUND_UNITY is on. Two files of a
# batch share one translation unit, so their file-local names must differ.
function(rebound_unity target)
  if(REBOUND_UNITY)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON
                                               UNITY_BUILD_BATCH_SIZE ${REBOUND_UNITY_BATCH_SIZE})
  endif()
endfunction()

# The simulator's layers and programs: a unity build when REBOUND_UNITY is on
# and nothing built from them ships (the Windows ones, link-time optimised,
# are packed for modders).
function(rebound_sim_unity target)
  if(NOT WIN32 OR NOT REBOUND_LTO)
    rebound_unity(${target})
  endif()
  rebound_og(${target})
endfunction()

# The plug-in's core library CORE: a unity build in the sanitizer trees (see
# REBOUND_UNITY above). The random helpers stay a file of their own there: a
# probe program (tests/spawn) links them from the library with no host behind
# them, which a batch that also calls natives would need.
function(rebound_plugin_core_unity core)
  if(NOT WIN32 AND (REBOUND_SANITIZE OR REBOUND_TSAN))
    rebound_unity(${core})
    set_source_files_properties(${PROJECT_SOURCE_DIR}/src/spawn/random.cpp TARGET_DIRECTORY ${core}
                                PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
endfunction()

# A program that only the tests run: a unity build when REBOUND_UNITY is on,
# compiled as rebound_test_compiler() says. A unity source includes its files
# by their absolute paths, and GoogleTest's __FILE__ would carry the clone's
# path into every test unit, none of which the cache could then give another
# clone: __FILE__ is taken relative to the source folder.
function(rebound_test_program target)
  rebound_unity(${target})
  rebound_test_compiler(${target})
  if(REBOUND_UNITY)
    target_compile_options(${target} PRIVATE -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
  endif()
endfunction()

# Paths of this build tree that a program is compiled with: where the plug-in
# module is, the source folder, and so on. As compile definitions they would
# differ in every clone, and no compile of that program could come from the
# cache. So each is a constant in a small generated source, and the macro
# names the constant (a `const char*`, no longer a literal to paste onto):
#   rebound_build_paths(TARGET NAME VALUE [NAME VALUE ...])
# Call it once a target; VALUE may hold generator expressions.
function(rebound_build_paths target)
  set(header ${CMAKE_CURRENT_BINARY_DIR}/${target}_build_paths.h)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_build_paths.cpp)
  set(declarations)
  set(macros)
  set(definitions)
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs name value)
    string(APPEND declarations "extern const char* const ${name}_value;\n")
    string(APPEND macros "#define ${name} (::rebound_build_paths::${name}_value)\n")
    string(APPEND definitions "const char* const ${name}_value = R\"rebound(${value})rebound\";\n")
  endwhile()
  file(GENERATE OUTPUT ${header} CONTENT
"// Generated by rebound_build_paths() (cmake/ReboundBuildSpeed.cmake): the same in every clone.
#pragma once
namespace rebound_build_paths {
${declarations}}  // namespace rebound_build_paths
${macros}")
  file(GENERATE OUTPUT ${source} CONTENT
"// Generated by rebound_build_paths() (cmake/ReboundBuildSpeed.cmake): this build tree's paths.
#include \"${target}_build_paths.h\"
namespace rebound_build_paths {
${definitions}}  // namespace rebound_build_paths
")
  target_sources(${target} PRIVATE ${source})
  set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON
                                                   SKIP_PRECOMPILE_HEADERS ON)
  target_compile_options(${target} PRIVATE -include ${header})
endfunction()

# Precompiled headers when REBOUND_PCH is on: one that the GoogleTest programs
# share (GoogleTest, the JSON library and the standard headers most test files
# include) and one that the simulator's layers share (the JSON library and
# standard headers). Only headers from outside the project, so each is the same
# in every clone. The first target of a group compiles its header; the others
# reuse that one (its flags are theirs, as clang requires). The header is
# compiled without the cache, and scripts/compiler-cache.sh writes a checksum
# of its inputs beside it, which ccache hashes in its place: the header's own
# bytes hold the clone's path, and the files that use it could otherwise come
# from the cache in no other clone.
set(REBOUND_PCH_SIM_HEADERS <nlohmann/json.hpp> <algorithm> <array> <cmath> <cstddef> <cstdint>
    <cstdio> <cstdlib> <cstring> <functional> <map> <memory> <optional> <set> <string>
    <string_view> <utility> <vector>)
set(REBOUND_PCH_TEST_HEADERS <gtest/gtest.h> ${REBOUND_PCH_SIM_HEADERS} <chrono> <filesystem>
    <fstream> <limits> <span> <sstream> <thread>)

#   rebound_shared_pch(TARGET GROUP HEADER...)
function(rebound_shared_pch target group)
  if(NOT REBOUND_PCH)
    return()
  endif()
  rebound_precompile(${target} ${group} ${ARGN})
endfunction()

function(rebound_precompile target group)
  get_property(donor GLOBAL PROPERTY REBOUND_PCH_DONOR_${group})
  if(donor)
    target_precompile_headers(${target} REUSE_FROM ${donor})
  else()
    set_property(GLOBAL PROPERTY REBOUND_PCH_DONOR_${group} ${target})
    target_precompile_headers(${target} PRIVATE ${ARGN})
    # ccache takes a clang precompiled header only without its timestamp.
    target_compile_options(${target} PRIVATE -Xclang -fno-pch-timestamp)
  endif()
endfunction()

function(rebound_test_pch target)
  if(REBOUND_GTEST_PCH)
    rebound_precompile(${target} gtest-first <gtest/gtest.h>)
    # Which files take it is known once the target has all its sources. (A
    # deferred call's arguments are read when it runs: the name goes in now.)
    cmake_language(EVAL CODE "cmake_language(DEFER CALL rebound_gtest_pch_sources [[${target}]])")
  else()
    rebound_shared_pch(${target} tests ${REBOUND_PCH_TEST_HEADERS})
  endif()
endfunction()

# REBOUND_GTEST_PCH: every source of TARGET whose first #include is not
# <gtest/gtest.h> is compiled without the header. The tree is configured again
# when one of them changes, so an edited first include is seen.
function(rebound_gtest_pch_sources target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  foreach(source ${sources})
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} OUTPUT_VARIABLE path)
    set(first "")
    # Generated sources (the build paths) are left as they are.
    cmake_path(IS_PREFIX PROJECT_BINARY_DIR ${path} NORMALIZE generated)
    if(NOT generated AND EXISTS ${path})
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
      file(STRINGS ${path} first REGEX "^[ \t]*#[ \t]*include" LIMIT_COUNT 1)
    endif()
    if(NOT first MATCHES "^[ \t]*#[ \t]*include[ \t]*<gtest/gtest\\.h>")
      set_source_files_properties(${source} TARGET_DIRECTORY ${target}
                                  PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
  endforeach()
endfunction()

# The simulator's shared header (REBOUND_PCH) for one of its layers.
function(rebound_sim_pch target)
  # A precompiled header serves only files compiled at its own level.
  get_target_property(optimised ${target} REBOUND_OPTIMISED)
  if(optimised)
    rebound_shared_pch(${target} sim-optimised ${REBOUND_PCH_SIM_HEADERS})
  else()
    rebound_shared_pch(${target} sim ${REBOUND_PCH_SIM_HEADERS})
  endif()
endfunction()

# The same for a program built on the simulator (rebound-sim, the soak, the
# benchmarks, the fuzz targets' replays), which includes the same JSON
# library and standard headers. Their own header: they are compiled as an
# executable's position-independent code, as the layers are not, and without
# GoogleTest's settings, which the test programs' header holds.
function(rebound_sim_program_pch target)
  rebound_shared_pch(${target} sim-programs ${REBOUND_PCH_SIM_HEADERS})
endfunction()

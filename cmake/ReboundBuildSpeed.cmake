# How the trees that `make test` builds are kept quick to build, each an
# option that the presets set (CMakePresets.json says which tree has which):
#
#   REBOUND_UNITY        the test programs compiled as unity builds, a few
#                        files to a compiler run, so that the headers they all
#                        include (GoogleTest, the simulator's) are read once a
#                        batch; the simulator's layers too, on Linux and in a
#                        Windows tree without REBOUND_LTO. Never the plug-in:
#                        Rebound.asi is the same bytes in every tree.
#   REBOUND_LTO          a release simulator optimised across its files (g++'s
#                        link-time optimisation), as `make dist`, `make count`
#                        and `make bench` build it. The windows test tree goes
#                        without: its rebound-sim.exe only runs the tests.
#   REBOUND_LLD          test programs linked with lld (on Linux everything:
#                        nothing there ships), where GNU ld took seconds each.
#   REBOUND_SPLIT_DWARF  debug information left in .dwo files beside the
#                        objects (-gsplit-dwarf), so that links copy less.
#
# The debug tree sets none of the unity options: it compiles every file on its
# own, so that a file missing an include still fails there.

option(REBOUND_UNITY "Compile the test programs (and on Linux the simulator) as unity builds" OFF)
set(REBOUND_UNITY_BATCH_SIZE 8 CACHE STRING "Source files a unity batch holds")
option(REBOUND_LTO "Optimise a release simulator across its files (link-time optimisation)" ON)
option(REBOUND_LLD "Link the test programs (on Linux everything) with lld" OFF)
option(REBOUND_SPLIT_DWARF "Keep debug information in .dwo files beside the objects" OFF)

if(REBOUND_LLD AND NOT WIN32)
  add_link_options(-fuse-ld=lld)
endif()
if(REBOUND_SPLIT_DWARF AND NOT WIN32)
  add_compile_options($<$<CONFIG:Debug>:-gsplit-dwarf>)
endif()

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
endfunction()

# A program that only the tests run: a unity build, and linked with lld, when
# those options are on.
function(rebound_test_program target)
  rebound_unity(${target})
  if(REBOUND_LLD AND WIN32)
    target_link_options(${target} PRIVATE -fuse-ld=lld)
  endif()
endfunction()

# The player's package, dist/Rebound-<version>.zip in the build directory:
# the stripped Rebound.asi, README.txt, LICENSE.txt and CHANGELOG.md; and,
# when the recording build is on, the testers' package beside it,
# dist/Rebound-recorder-<version>.zip: the stripped Rebound-recorder.asi, its
# README.txt and LICENSE.txt. With the simulator, the modders' package too,
# dist/Rebound-sim-<version>-windows.zip: rebound-sim.exe, the plug-ins, the
# stand-in ScriptHookV.dll in a folder of its own (stand-in-host/), the shipped
# scenarios and their schema, the documentation, and its own README.txt. The
# scenarios and the documentation are looked up when packing, so that a page
# added since the build was configured is packed too. dist/SHA256SUMS lists
# every zip's checksum. The unstripped programs and DLLs stay in the build
# directory for debugging. `make dist` builds all of them and copies them to
# build/dist/.

find_program(REBOUND_STRIP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-strip
                                 x86_64-w64-mingw32-strip REQUIRED)
find_package(Python3 3.8 REQUIRED COMPONENTS Interpreter)

set(REBOUND_DIST_DIR ${PROJECT_BINARY_DIR}/dist)
set(REBOUND_DIST_ZIP ${REBOUND_DIST_DIR}/Rebound-${PROJECT_VERSION}.zip)

set(rebound_dist_readme ${PROJECT_BINARY_DIR}/generated/README.txt)
configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt.in ${rebound_dist_readme} @ONLY)

# The packing command's options but --out: the package test runs it again
# with these to see that it gives the same bytes.
set(REBOUND_DIST_ARGS
    --dll $<TARGET_FILE:rebound_plugin>
    --text README.txt=${rebound_dist_readme}
    --text LICENSE.txt=${PROJECT_SOURCE_DIR}/LICENSE.txt
    --text CHANGELOG.md=${PROJECT_SOURCE_DIR}/CHANGELOG.md
    --strip ${REBOUND_STRIP}
    --check-imports ${PROJECT_SOURCE_DIR}/scripts/check-dll-imports.sh
    --source-dir ${PROJECT_SOURCE_DIR})

set(rebound_dist_commands
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/make-dist.py
            --out ${REBOUND_DIST_ZIP} ${REBOUND_DIST_ARGS})
set(rebound_dist_inputs ${rebound_dist_readme})
set(rebound_dist_comment "Packing Rebound-${PROJECT_VERSION}.zip")

if(TARGET rebound_plugin_recorder)
  set(REBOUND_DIST_RECORDER_ZIP ${REBOUND_DIST_DIR}/Rebound-recorder-${PROJECT_VERSION}.zip)
  set(rebound_dist_recorder_readme ${PROJECT_BINARY_DIR}/generated/README-recorder.txt)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README-recorder.txt.in
                 ${rebound_dist_recorder_readme} @ONLY)
  # Packed and checked as the player's DLL is: a recorder that the game's
  # loader would drop records nothing.
  set(REBOUND_DIST_RECORDER_ARGS
      --dll $<TARGET_FILE:rebound_plugin_recorder>
      --text README.txt=${rebound_dist_recorder_readme}
      --text LICENSE.txt=${PROJECT_SOURCE_DIR}/LICENSE.txt
      --strip ${REBOUND_STRIP}
      --check-imports ${PROJECT_SOURCE_DIR}/scripts/check-dll-imports.sh
      --source-dir ${PROJECT_SOURCE_DIR})
  list(APPEND rebound_dist_commands
       COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/make-dist.py
               --out ${REBOUND_DIST_RECORDER_ZIP} ${REBOUND_DIST_RECORDER_ARGS})
  list(APPEND rebound_dist_inputs ${rebound_dist_recorder_readme})
  string(APPEND rebound_dist_comment " and Rebound-recorder-${PROJECT_VERSION}.zip")
endif()

if(REBOUND_SIM)
  set(REBOUND_DIST_SIM_ZIP ${REBOUND_DIST_DIR}/Rebound-sim-${PROJECT_VERSION}-windows.zip)
  set(rebound_dist_sim_readme ${PROJECT_BINARY_DIR}/generated/README-sim.txt)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README-sim.txt.in ${rebound_dist_sim_readme}
                 @ONLY)
  find_program(REBOUND_DIST_OBJDUMP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump
                                          x86_64-w64-mingw32-objdump REQUIRED)
  set(rebound_dist_sim_recorder)
  if(TARGET rebound_plugin_recorder)
    set(rebound_dist_sim_recorder
        --plugin Rebound-recorder.asi=$<TARGET_FILE:rebound_plugin_recorder>)
  endif()
  # The stand-in host has the real host's file name: it keeps to its own
  # folder, where rebound-sim.exe looks for it first, with a note that says
  # it is not for the game.
  set(REBOUND_DIST_SIM_ARGS
      --text README.txt=${rebound_dist_sim_readme}
      --text LICENSE.txt=${PROJECT_SOURCE_DIR}/LICENSE.txt
      --text CHANGELOG.md=${PROJECT_SOURCE_DIR}/CHANGELOG.md
      --binary rebound-sim.exe=$<TARGET_FILE:rebound-sim>
      --plugin Rebound.asi=$<TARGET_FILE:rebound_plugin>
      ${rebound_dist_sim_recorder}
      --binary stand-in-host/ScriptHookV.dll=$<TARGET_FILE:rebound_sim_host_dll>
      --text stand-in-host/NOT-FOR-THE-GAME.txt=${PROJECT_SOURCE_DIR}/packaging/stand-in-host.txt
      --texts scenarios=${PROJECT_SOURCE_DIR}/scenarios/*.json
      --texts docs=${PROJECT_SOURCE_DIR}/docs/*.md
      --files docs=${PROJECT_SOURCE_DIR}/docs/*.json
      --files docs/media=${PROJECT_SOURCE_DIR}/docs/media/*
      --strip ${REBOUND_STRIP}
      --objdump ${REBOUND_DIST_OBJDUMP}
      --check-imports ${PROJECT_SOURCE_DIR}/scripts/check-dll-imports.sh
      --source-dir ${PROJECT_SOURCE_DIR})
  list(APPEND rebound_dist_commands
       COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/make-dist.py
               --out ${REBOUND_DIST_SIM_ZIP} ${REBOUND_DIST_SIM_ARGS})
  list(APPEND rebound_dist_inputs ${rebound_dist_sim_readme}
              ${PROJECT_SOURCE_DIR}/packaging/stand-in-host.txt)
  string(APPEND rebound_dist_comment " and Rebound-sim-${PROJECT_VERSION}-windows.zip")
endif()

# Every zip's SHA-256 in the format of sha256sum, which `sha256sum -c` checks:
# it goes beside the zips on the release page (it cannot be inside the zip it
# sums).
set(REBOUND_DIST_SUMS ${REBOUND_DIST_DIR}/SHA256SUMS)
list(APPEND rebound_dist_commands
     COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/write-sha256sums.py
             ${REBOUND_DIST_DIR})

# Always packed anew (it takes a moment): the entries' time follows the
# current commit, which no file dependency can see change. The directory is
# emptied first so that it never holds the zip of an older version.
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${REBOUND_DIST_DIR}
  ${rebound_dist_commands}
  DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-dist.py
          ${PROJECT_SOURCE_DIR}/scripts/write-sha256sums.py ${rebound_dist_inputs}
          ${PROJECT_SOURCE_DIR}/LICENSE.txt ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  COMMENT "${rebound_dist_comment}"
  VERBATIM)
add_dependencies(dist rebound_plugin)
if(TARGET rebound_plugin_recorder)
  add_dependencies(dist rebound_plugin_recorder)
endif()
if(REBOUND_SIM)
  add_dependencies(dist rebound-sim rebound_sim_host_dll)
endif()

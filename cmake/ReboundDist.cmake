# The player's package, dist/Rebound-<version>.zip in the build directory:
# the stripped Rebound.asi, README.txt, LICENSE.txt and CHANGELOG.md; and,
# when the recording build is on, the testers' package beside it,
# dist/Rebound-recorder-<version>.zip: the stripped Rebound-recorder.asi, its
# README.txt and LICENSE.txt. The unstripped DLLs stay in the build directory
# for debugging. `make dist` builds both and copies the zips to build/dist/.

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

# Always packed anew (it takes a moment): the entries' time follows the
# current commit, which no file dependency can see change. The directory is
# emptied first so that it never holds the zip of an older version.
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${REBOUND_DIST_DIR}
  ${rebound_dist_commands}
  DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-dist.py ${rebound_dist_inputs}
          ${PROJECT_SOURCE_DIR}/LICENSE.txt ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  COMMENT "${rebound_dist_comment}"
  VERBATIM)
add_dependencies(dist rebound_plugin)
if(TARGET rebound_plugin_recorder)
  add_dependencies(dist rebound_plugin_recorder)
endif()

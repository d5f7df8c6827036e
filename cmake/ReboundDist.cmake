# The player's package, dist/Rebound-<version>.zip in the build directory:
# the stripped Rebound.asi, README.txt, LICENSE.txt and CHANGELOG.md. The
# unstripped Rebound.asi stays beside it for debugging. `make dist` builds it
# and copies the zip to build/dist/.

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

# Always packed anew (it takes a moment): the entries' time follows the
# current commit, which no file dependency can see change. The directory is
# emptied first so that it never holds the zip of an older version.
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${REBOUND_DIST_DIR}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/make-dist.py
          --out ${REBOUND_DIST_ZIP} ${REBOUND_DIST_ARGS}
  DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-dist.py ${rebound_dist_readme}
          ${PROJECT_SOURCE_DIR}/LICENSE.txt ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  COMMENT "Packing Rebound-${PROJECT_VERSION}.zip"
  VERBATIM)
add_dependencies(dist rebound_plugin)

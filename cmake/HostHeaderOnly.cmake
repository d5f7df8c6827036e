# nlohmann-json for the MinGW cross-build of the simulator. It is header-only,
# so the build machine's copy serves, but the build machine's include folder
# (/usr/include, glibc's headers) must never be on the MinGW include path: a
# folder in the build tree holds only a link to the nlohmann/ headers.
find_path(REBOUND_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp
          PATHS /usr/include /usr/local/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "Folder holding nlohmann/json.hpp (the build machine's nlohmann-json3-dev)")
if(NOT REBOUND_NLOHMANN_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found on the build machine "
                      "(scripts/install-deps.sh installs nlohmann-json3-dev)")
endif()
set(rebound_host_headers ${PROJECT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${rebound_host_headers})
file(CREATE_LINK ${REBOUND_NLOHMANN_JSON_INCLUDE}/nlohmann ${rebound_host_headers}/nlohmann
     SYMBOLIC)
add_library(rebound_nlohmann_json INTERFACE)
target_include_directories(rebound_nlohmann_json SYSTEM INTERFACE ${rebound_host_headers})
add_library(nlohmann_json::nlohmann_json ALIAS rebound_nlohmann_json)

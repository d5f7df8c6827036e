# Builds a checked-in file into a program as bytes, so that what the program
# prints or writes is exactly the file that editors and tools read.
#   rebound_embed(TARGET FILE HEADER FUNCTION)
# adds to TARGET a generated source that includes HEADER and defines
# `std::string_view FUNCTION()` (a qualified name, declared in HEADER) over
# FILE's bytes. Editing FILE reconfigures and rebuilds.
function(rebound_embed target file header function)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," chars "${hex}")
  file(RELATIVE_PATH shown ${PROJECT_SOURCE_DIR} ${file})
  get_filename_component(stem ${file} NAME)
  string(MAKE_C_IDENTIFIER "${stem}" stem)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${stem}.cpp)
  file(CONFIGURE OUTPUT ${out} CONTENT [=[
// Generated from @shown@ by cmake/ReboundEmbed.cmake.
#include "@header@"

namespace {
const char kEmbedded[] = {@chars@};
}  // namespace

std::string_view @function@() { return std::string_view(kEmbedded, sizeof kEmbedded); }
]=] @ONLY)
  target_sources(${target} PRIVATE ${out})
  # Every embedded file names its bytes alike: in a unity build each is
  # compiled on its own.
  set_source_files_properties(${out} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
endfunction()

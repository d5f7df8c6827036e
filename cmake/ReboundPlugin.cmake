# The plug-in: one static core library, and from it the Linux module that the
# simulator loads or the Windows DLL (Rebound.asi) that the real host loads.
# With REBOUND_RECORDER, the recording build beside it: the same sources
# compiled with REBOUND_RECORDING=1 plus the recorder's own, as
# Rebound-recorder.asi or librebound-recorder.so. The player's targets are
# the same with the option on or off.

set(REBOUND_SRC ${PROJECT_SOURCE_DIR}/src)

file(GLOB_RECURSE rebound_core_sources CONFIGURE_DEPENDS
     ${REBOUND_SRC}/host/*.cpp ${REBOUND_SRC}/respawn/*.cpp ${REBOUND_SRC}/spawn/*.cpp
     ${REBOUND_SRC}/hud/*.cpp)
# The platform's own entry files go into the module, not the core.
list(FILTER rebound_core_sources EXCLUDE REGEX ".*/(platform_windows|module_entry_posix)\\.cpp$")
if(WIN32)
  list(FILTER rebound_core_sources EXCLUDE REGEX ".*/platform_posix\\.cpp$")
endif()
# The recorder's own files belong to the recording build alone.
set(rebound_recorder_sources ${rebound_core_sources})
list(FILTER rebound_recorder_sources INCLUDE REGEX ".*/host/recorder[^/]*\\.cpp$")
list(FILTER rebound_core_sources EXCLUDE REGEX ".*/host/recorder[^/]*\\.cpp$")
if(WIN32)
  list(FILTER rebound_recorder_sources EXCLUDE REGEX ".*_posix\\.cpp$")
else()
  list(FILTER rebound_recorder_sources EXCLUDE REGEX ".*_windows\\.cpp$")
endif()

add_library(rebound_core STATIC ${rebound_core_sources})
target_include_directories(rebound_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(rebound_core PRIVATE rebound_warnings)
target_compile_features(rebound_core PUBLIC cxx_std_20)

if(WIN32)
  # Bind to the host's decorated exports through an import library made from
  # a module-definition file.
  find_program(REBOUND_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool
                                     x86_64-w64-mingw32-dlltool REQUIRED)
  set(rebound_host_def ${PROJECT_SOURCE_DIR}/cmake/ScriptHookV.def)
  set(rebound_host_lib ${CMAKE_CURRENT_BINARY_DIR}/libScriptHookV.a)
  add_custom_command(
    OUTPUT ${rebound_host_lib}
    COMMAND ${REBOUND_DLLTOOL} -m i386:x86-64 -D ScriptHookV.dll -d ${rebound_host_def}
            -l ${rebound_host_lib}
    DEPENDS ${rebound_host_def}
    COMMENT "Import library for ScriptHookV.dll")
  add_custom_target(rebound_host_import DEPENDS ${rebound_host_lib})

  # The version resource that Windows shows in the file's properties.
  set(rebound_version_rc ${CMAKE_CURRENT_BINARY_DIR}/generated/Rebound.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/Rebound.rc.in ${rebound_version_rc} @ONLY)
  # A module, not a shared library: nothing links against the plug-in, so no
  # import library of its own is made.
  add_library(rebound_plugin MODULE ${REBOUND_SRC}/host/platform_windows.cpp ${rebound_version_rc})
  add_dependencies(rebound_plugin rebound_host_import)
  target_link_libraries(rebound_plugin PRIVATE rebound_core rebound_warnings ${rebound_host_lib})
  # No runtime DLLs next to the game: everything but the system DLLs is linked in.
  # With no symbol marked dllexport, ld would export every global symbol (the
  # static runtime's included): the host reaches the plug-in only through
  # DllMain and the callbacks it registers, so the DLL exports nothing.
  target_link_options(rebound_plugin PRIVATE -static -static-libgcc -static-libstdc++
                                             -Wl,--exclude-all-symbols)
  # The same sources give the same bytes: no link time in the PE header or in
  # the export directory, and no checkout path in the code through __FILE__.
  # The debug sections keep the real paths, for debugging this unstripped
  # build; the player's package leaves them out.
  target_link_options(rebound_plugin PRIVATE -Wl,--no-insert-timestamp)
  foreach(target rebound_core rebound_plugin)
    target_compile_options(${target} PRIVATE -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
  endforeach()
  set_target_properties(rebound_plugin PROPERTIES OUTPUT_NAME Rebound PREFIX "" SUFFIX ".asi")
else()
  # The host functions are called through the module's GOT directly rather
  # than through a PLT stub that jumps there: one instruction less on each of
  # the few calls a frame makes.
  target_compile_options(rebound_core PRIVATE -fno-plt)
  add_library(rebound_plugin MODULE ${REBOUND_SRC}/host/module_entry_posix.cpp)
  target_compile_options(rebound_plugin PRIVATE -fno-plt)
  target_link_libraries(rebound_plugin PRIVATE rebound_core rebound_warnings)
  # The host functions stay undefined here and are bound to the loading
  # host's exports when the module is loaded, as the Windows loader does.
  set_target_properties(rebound_plugin PROPERTIES OUTPUT_NAME rebound
                                                  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
endif()

if(REBOUND_RECORDER)
  # The recording build. REBOUND_RECORDING is public: everything that includes
  # the plug-in's headers with this library must see the same inline natives.
  add_library(rebound_core_recorder STATIC ${rebound_core_sources} ${rebound_recorder_sources})
  target_include_directories(rebound_core_recorder PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(rebound_core_recorder PRIVATE rebound_warnings nlohmann_json::nlohmann_json)
  target_compile_features(rebound_core_recorder PUBLIC cxx_std_20)
  target_compile_definitions(rebound_core_recorder PUBLIC REBOUND_RECORDING=1
                                                   PRIVATE REBOUND_VERSION_TEXT="${PROJECT_VERSION}")
  if(WIN32)
    set(rebound_recorder_rc ${CMAKE_CURRENT_BINARY_DIR}/generated/Rebound-recorder.rc)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/Rebound-recorder.rc.in ${rebound_recorder_rc} @ONLY)
    add_library(rebound_plugin_recorder MODULE ${REBOUND_SRC}/host/platform_windows.cpp
                                               ${rebound_recorder_rc})
    add_dependencies(rebound_plugin_recorder rebound_host_import)
    target_link_libraries(rebound_plugin_recorder PRIVATE rebound_core_recorder rebound_warnings
                                                          ${rebound_host_lib})
    # As Rebound.asi: the runtime linked in, nothing exported, no link time.
    target_link_options(rebound_plugin_recorder PRIVATE -static -static-libgcc -static-libstdc++
                                                        -Wl,--exclude-all-symbols
                                                        -Wl,--no-insert-timestamp)
    foreach(target rebound_core_recorder rebound_plugin_recorder)
      target_compile_options(${target} PRIVATE -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
    endforeach()
    set_target_properties(rebound_plugin_recorder PROPERTIES OUTPUT_NAME Rebound-recorder PREFIX ""
                                                             SUFFIX ".asi")
  else()
    find_package(Threads REQUIRED)
    target_compile_options(rebound_core_recorder PRIVATE -fno-plt)
    add_library(rebound_plugin_recorder MODULE ${REBOUND_SRC}/host/module_entry_posix.cpp)
    target_compile_options(rebound_plugin_recorder PRIVATE -fno-plt)
    target_link_libraries(rebound_plugin_recorder PRIVATE rebound_core_recorder rebound_warnings
                                                          Threads::Threads ${CMAKE_DL_LIBS})
    set_target_properties(rebound_plugin_recorder PROPERTIES OUTPUT_NAME rebound-recorder
                                                             LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  endif()
endif()

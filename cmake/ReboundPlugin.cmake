# The plug-in: one static core library, and from it the Linux module that the
# simulator loads or the Windows DLL (Rebound.asi) that the real host loads.
# With REBOUND_RECORDER, the recording build beside it: the same sources
# compiled with REBOUND_RECORDING=1 plus the recorder's own (src/recorder/),
# as Rebound-recorder.asi or librebound-recorder.so. The player's targets are
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
# The recording build's own files (src/recorder/), for the platform built.
file(GLOB rebound_recorder_sources CONFIGURE_DEPENDS ${REBOUND_SRC}/recorder/*.cpp)
if(WIN32)
  list(FILTER rebound_recorder_sources EXCLUDE REGEX ".*_posix\\.cpp$")
else()
  list(FILTER rebound_recorder_sources EXCLUDE REGEX ".*_windows\\.cpp$")
endif()

if(WIN32)
  # Bind to the host's decorated exports through an import library made from
  # a module-definition file.
  find_program(REBOUND_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool
                                     x86_64-w64-mingw32-dlltool REQUIRED)
  # TARGET makes LIB, an import library of ScriptHookV.dll for the exports
  # that the module-definition file DEF lists.
  function(rebound_host_import_library target def lib comment)
    add_custom_command(
      OUTPUT ${lib}
      COMMAND ${REBOUND_DLLTOOL} -m i386:x86-64 -D ScriptHookV.dll -d ${def} -l ${lib}
      DEPENDS ${def}
      COMMENT "${comment}")
    add_custom_target(${target} DEPENDS ${lib})
  endfunction()
  set(rebound_host_lib ${CMAKE_CURRENT_BINARY_DIR}/libScriptHookV.a)
  rebound_host_import_library(rebound_host_import ${PROJECT_SOURCE_DIR}/cmake/ScriptHookV.def
                              ${rebound_host_lib} "Import library for ScriptHookV.dll")
endif()

# One build of the plug-in: a static core library CORE of the plug-in's
# sources (plus EXTRA_SOURCES), and from it the module TARGET, named
# WINDOWS_NAME.asi on Windows (with the version resource made from
# packaging/WINDOWS_NAME.rc.in) and libLINUX_NAME.so on Linux.
#   rebound_plugin_build(TARGET CORE WINDOWS_NAME NAME LINUX_NAME NAME
#                        [EXTRA_SOURCES ...] [CORE_LIBS ...] [CORE_DEFINITIONS ...]
#                        [LINUX_MODULE_LIBS ...])
# CORE_DEFINITIONS are given as to target_compile_definitions (PUBLIC ones
# for what everything that includes the plug-in's headers with that core must
# see alike, such as the inline natives).
function(rebound_plugin_build target core)
  cmake_parse_arguments(arg "" "WINDOWS_NAME;LINUX_NAME"
                        "EXTRA_SOURCES;CORE_LIBS;CORE_DEFINITIONS;LINUX_MODULE_LIBS" ${ARGN})
  add_library(${core} STATIC ${rebound_core_sources} ${arg_EXTRA_SOURCES})
  target_include_directories(${core} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${core} PRIVATE rebound_warnings ${arg_CORE_LIBS})
  target_compile_features(${core} PUBLIC cxx_std_20)
  rebound_plugin_core_unity(${core})
  rebound_tsan_optimise(${core})
  if(arg_CORE_DEFINITIONS)
    target_compile_definitions(${core} ${arg_CORE_DEFINITIONS})
  endif()

  if(WIN32)
    # The version resource that Windows shows in the file's properties.
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/generated/${arg_WINDOWS_NAME}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/${arg_WINDOWS_NAME}.rc.in ${rc} @ONLY)
    # A module, not a shared library: nothing links against the plug-in, so
    # no import library of its own is made.
    add_library(${target} MODULE ${REBOUND_SRC}/host/platform_windows.cpp ${rc})
    add_dependencies(${target} rebound_host_import)
    target_link_libraries(${target} PRIVATE ${core} rebound_warnings ${rebound_host_lib})
    # No runtime DLLs next to the game: everything but the system DLLs is
    # linked in. With no symbol marked dllexport, ld would export every
    # global symbol (the static runtime's included): the host reaches the
    # plug-in only through DllMain and the callbacks it registers, so the DLL
    # exports nothing. The same sources give the same bytes: no link time in
    # the PE header or in the export directory, and no checkout path in the
    # code through __FILE__. The debug sections keep the real paths, for
    # debugging the unstripped build; the packages leave them out.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
                                          -Wl,--exclude-all-symbols -Wl,--no-insert-timestamp)
    foreach(each ${core} ${target})
      target_compile_options(${each} PRIVATE -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
    endforeach()
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${arg_WINDOWS_NAME} PREFIX ""
                                               SUFFIX ".asi")
  else()
    # The host functions are called through the module's GOT directly rather
    # than through a PLT stub that jumps there: one instruction less on each
    # of the few calls a frame makes.
    target_compile_options(${core} PRIVATE -fno-plt)
    add_library(${target} MODULE ${REBOUND_SRC}/host/module_entry_posix.cpp)
    rebound_tsan_optimise(${target})
    target_compile_options(${target} PRIVATE -fno-plt)
    target_link_libraries(${target} PRIVATE ${core} rebound_warnings ${arg_LINUX_MODULE_LIBS})
    # The host functions stay undefined here and are bound to the loading
    # host's exports when the module is loaded, as the Windows loader does.
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${arg_LINUX_NAME}
                                               LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  endif()
endfunction()

rebound_plugin_build(rebound_plugin rebound_core WINDOWS_NAME Rebound LINUX_NAME rebound)

if(REBOUND_RECORDER)
  # The recording build: the same sources with REBOUND_RECORDING=1, which
  # makes the hooks of src/recorder/hooks.h real, plus the recorder's own.
  set(recorder_module_libs)
  if(NOT WIN32)
    find_package(Threads REQUIRED)
    set(recorder_module_libs Threads::Threads ${CMAKE_DL_LIBS})
  endif()
  rebound_plugin_build(rebound_plugin_recorder rebound_core_recorder
                       WINDOWS_NAME Rebound-recorder LINUX_NAME rebound-recorder
                       EXTRA_SOURCES ${rebound_recorder_sources}
                       CORE_LIBS nlohmann_json::nlohmann_json
                       CORE_DEFINITIONS PUBLIC REBOUND_RECORDING=1
                                        PRIVATE REBOUND_VERSION_TEXT="${PROJECT_VERSION}"
                       LINUX_MODULE_LIBS ${recorder_module_libs})
endif()

# Windows build of the library: the module definition file that gives the
# flat interface its decorated export names (_Name@N, N = 4 x arguments), and
# the version resource.
#
# tools/gen/generate.py writes the .def at configure time from the entries of
# src/engine/operation_table.h, the list src/api/exports.cpp expands, so the
# two cannot disagree. COM server entries (STDAPI DllName(...) in src/api)
# and the doors' own entry points (KV_EXPORT(type) KvName(...), such as the
# native host's KvAdmitWebOrigin) keep their plain names.
# Editing the table or a file of src/api re-runs the configuration.

include(${CMAKE_CURRENT_LIST_DIR}/operation_table.cmake)

function(kv_windows_exports target)
  file(GLOB_RECURSE api_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/api/*.cpp")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${api_sources})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(arch x86)
  else()
    set(arch x64)
  endif()
  set(def "${CMAKE_BINARY_DIR}/korvessa.def")
  kv_generate(def --arch ${arch} --out "${def}")
  target_sources(${target} PRIVATE "${def}")
  # Without this the linker exports every symbol whenever the list is empty.
  target_link_options(${target} PRIVATE "-Wl,--exclude-all-symbols")
  file(STRINGS "${def}" exports REGEX "^  ")
  list(LENGTH exports count)
  message(STATUS "korvessa.def: ${count} exports")

  set(rc "${CMAKE_SOURCE_DIR}/src/api/korvessa.rc")
  target_sources(${target} PRIVATE "${rc}")
  set_source_files_properties("${rc}" PROPERTIES COMPILE_DEFINITIONS
    "KV_VERSION_MAJOR=${PROJECT_VERSION_MAJOR};KV_VERSION_MINOR=${PROJECT_VERSION_MINOR};KV_VERSION_PATCH=${PROJECT_VERSION_PATCH};KV_VERSION_TWEAK=${PROJECT_VERSION_TWEAK}")
  set_target_properties(${target} PROPERTIES PREFIX "")
endfunction()

# Windows build of the library: the module definition file that gives the
# flat interface its decorated export names (_Name@N, N = 4 x arguments), and
# the version resource.
#
# The .def is written at configure time from the lines of
# src/engine/operation_table.h (read by cmake/operation_table.cmake), the
# list src/api/exports.cpp expands, so the two cannot disagree. COM
# server entries (STDAPI DllName(...) in src/api) and the doors' own entry
# points (KV_EXPORT(type) KvName(...), such as the native host's
# KvAdmitWebOrigin) keep their plain names.
# Editing the table or a file of src/api re-runs the configuration.

include(${CMAKE_CURRENT_LIST_DIR}/operation_table.cmake)

# Number of parameters in a C parameter list text (the COM entries').
function(kv_count_params params out)
  string(STRIP "${params}" params)
  if(params STREQUAL "" OR params STREQUAL "void")
    set(${out} 0 PARENT_SCOPE)
    return()
  endif()
  string(REGEX REPLACE "[^,]" "" commas "${params}")
  string(LENGTH "${commas}" n)
  math(EXPR n "${n} + 1")
  set(${out} ${n} PARENT_SCOPE)
endfunction()

# Entry points of `sources` declared as `<lead><Name>(<params>)` (Name
# matching `name_pattern`) exported under their plain names (Name@N on x86),
# each line followed by `suffix`. A name met again is skipped with SKIP and
# stops the configuration with ONCE. Adds to the caller's `lines` and `seen`.
function(kv_plain_exports sources lead name_pattern suffix repeat)
  set(declaration "^${lead}(${name_pattern})[ \t]*\\(([^)]*)\\)$")
  foreach(src ${sources})
    file(READ "${src}" text)
    string(REGEX MATCHALL "${lead}${name_pattern}[ \t]*\\([^)]*\\)" found "${text}")
    foreach(decl ${found})
      string(REGEX REPLACE "${declaration}" "\\1" name "${decl}")
      string(REGEX REPLACE "${declaration}" "\\2" params "${decl}")
      if(name IN_LIST seen)
        if(repeat STREQUAL "SKIP")
          continue()
        endif()
        message(FATAL_ERROR "src/api: ${name} is exported twice")
      endif()
      list(APPEND seen ${name})
      kv_count_params("${params}" count)
      math(EXPR bytes "${count} * 4")
      if(x86)
        list(APPEND lines "  ${name} = ${name}@${bytes}${suffix}")
      else()
        list(APPEND lines "  ${name}${suffix}")
      endif()
    endforeach()
  endforeach()
  set(lines "${lines}" PARENT_SCOPE)
  set(seen "${seen}" PARENT_SCOPE)
endfunction()

function(kv_windows_exports target)
  file(GLOB_RECURSE api_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/api/*.cpp")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${api_sources})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(x86 TRUE)
  else()
    set(x86 FALSE)
  endif()
  set(lines "")
  set(seen "")

  # Flat operations: exported as _Name@N, the callee-pops convention.
  kv_read_operation_table(operations)
  foreach(record ${operations})
    kv_operation_field("${record}" exportName name)
    kv_operation_params("${record}" params)
    list(LENGTH params count)
    math(EXPR bytes "${count} * 4")
    if(name IN_LIST seen)
      message(FATAL_ERROR "operation_table.h: ${name} is exported twice")
    endif()
    list(APPEND seen ${name})
    if(x86)
      list(APPEND lines "  _${name}@${bytes} = ${name}@${bytes}")
    else()
      list(APPEND lines "  _${name}@${bytes} = ${name}")
    endif()
  endforeach()

  # COM server entries keep their plain names; so do the doors' own entry
  # points, with the callee-pops convention.
  kv_plain_exports("${api_sources}" "STDAPI[ \t]+" "Dll[A-Za-z]+" " PRIVATE" SKIP)
  kv_plain_exports("${api_sources}" "KV_EXPORT\\([A-Z]+\\)[ \t]+" "Kv[A-Za-z]+" "" ONCE)

  list(SORT lines)
  list(JOIN lines "\n" body)
  set(def "${CMAKE_BINARY_DIR}/korvessa.def")
  file(WRITE "${def}.new" "; Generated from src/engine/operation_table.h at configure time. Do not edit.\nLIBRARY korvessa.dll\nEXPORTS\n${body}\n")
  file(COPY_FILE "${def}.new" "${def}" ONLY_IF_DIFFERENT)
  file(REMOVE "${def}.new")
  target_sources(${target} PRIVATE "${def}")
  # Without this the linker exports every symbol whenever the list is empty.
  target_link_options(${target} PRIVATE "-Wl,--exclude-all-symbols")
  list(LENGTH seen count)
  message(STATUS "korvessa.def: ${count} exports")

  set(rc "${CMAKE_SOURCE_DIR}/src/api/korvessa.rc")
  target_sources(${target} PRIVATE "${rc}")
  set_source_files_properties("${rc}" PROPERTIES COMPILE_DEFINITIONS
    "KV_VERSION_MAJOR=${PROJECT_VERSION_MAJOR};KV_VERSION_MINOR=${PROJECT_VERSION_MINOR};KV_VERSION_PATCH=${PROJECT_VERSION_PATCH};KV_VERSION_TWEAK=${PROJECT_VERSION_TWEAK}")
  set_target_properties(${target} PROPERTIES PREFIX "")
endfunction()

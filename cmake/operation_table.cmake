# The operation table (src/engine/operation_table.h) read as text, for the
# files CMake writes from it: the Windows .def and the scriptable object's
# IDL. One reader checks every line's shape, the slots' order and the count,
# so the generated files and the C++ expansions cannot disagree.
#
# kv_read_operation_table(out) sets out to one record per line, in table
# order: "slot|dispid|result|name|exportName|params", params being the
# parameter list with blanks removed
# ("BSTR,text,LONG,flags"). kv_operation_field(record field out) takes one
# field by its name; kv_operation_params(record out) lists the parameters as
# "type name" entries. Reading the table makes CMake re-run the configuration
# when it changes.

set(KV_OPERATION_TABLE "${CMAKE_SOURCE_DIR}/src/engine/operation_table.h")
set(KV_OPERATION_FIELDS slot dispid result name exportName params)
set(KV_OPERATION_COUNT 63)
# IDispatch fills the first seven slots of the dual interface.
set(KV_OPERATION_FIRST_SLOT 7)

function(kv_read_operation_table out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KV_OPERATION_TABLE}")
  file(READ "${KV_OPERATION_TABLE}" text)
  # Comments would only get in the way of the line pattern.
  string(REGEX REPLACE "//[^\n]*" "" text "${text}")
  set(id "[A-Za-z_][A-Za-z0-9_]*")
  set(sp "[ \t\r\n]*")
  string(REGEX MATCHALL "KV_OPERATION\\([^()]*KV_PARAMS\\([^()]*\\)${sp}\\)" lines "${text}")
  set(shape "^KV_OPERATION\\(${sp}([0-9]+)${sp},${sp}([0-9]+)${sp},${sp}(BSTR|LONG)${sp},${sp}(${id})${sp},${sp}(${id})${sp},${sp}KV_PARAMS\\(([^)]*)\\)${sp}\\)$")
  set(records "")
  set(count 0)
  foreach(line ${lines})
    if(NOT line MATCHES "${shape}")
      message(FATAL_ERROR "operation_table.h: cannot read the line\n${line}")
    endif()
    set(slot "${CMAKE_MATCH_1}")
    set(dispid "${CMAKE_MATCH_2}")
    set(result "${CMAKE_MATCH_3}")
    set(name "${CMAKE_MATCH_4}")
    set(exportName "${CMAKE_MATCH_5}")
    string(REGEX REPLACE "[ \t\r\n]+" "" params "${CMAKE_MATCH_6}")
    math(EXPR want "${count} + ${KV_OPERATION_FIRST_SLOT}")
    if(NOT slot EQUAL want)
      message(FATAL_ERROR "operation_table.h: ${name} has slot ${slot}, its place in the table is ${want}")
    endif()
    list(APPEND records "${slot}|${dispid}|${result}|${name}|${exportName}|${params}")
    math(EXPR count "${count} + 1")
  endforeach()
  if(NOT count EQUAL KV_OPERATION_COUNT)
    message(FATAL_ERROR "operation_table.h: read ${count} operations, expected ${KV_OPERATION_COUNT}")
  endif()
  set(${out} "${records}" PARENT_SCOPE)
endfunction()

function(kv_operation_field record field out)
  list(FIND KV_OPERATION_FIELDS "${field}" index)
  if(index LESS 0)
    message(FATAL_ERROR "kv_operation_field: no field ${field}")
  endif()
  string(REPLACE "|" ";" fields "${record}")
  # An empty parameter list leaves the last field out of the split.
  list(LENGTH fields n)
  if(index LESS n)
    list(GET fields ${index} value)
  else()
    set(value "")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

function(kv_operation_params record out)
  kv_operation_field("${record}" params params)
  set(pairs "")
  if(NOT params STREQUAL "")
    string(REPLACE "," ";" words "${params}")
    list(LENGTH words n)
    math(EXPR last "${n} - 1")
    foreach(i RANGE 0 ${last} 2)
      math(EXPR j "${i} + 1")
      list(GET words ${i} type)
      list(GET words ${j} pname)
      list(APPEND pairs "${type} ${pname}")
    endforeach()
  endif()
  set(${out} "${pairs}" PARENT_SCOPE)
endfunction()

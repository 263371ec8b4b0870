# The generator of everything that lists the operations or the result codes,
# tools/gen/generate.py, run at configure time for the build tree's files
# (the Windows .def and the IDL). kv_generate(<command> <args>...) runs it
# and stops the configuration when the tables do not read; editing a table,
# the descriptions or the generator re-runs the configuration.
# KV_OPERATION_COUNT is the number of operations the table holds.

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(KV_GENERATOR "${CMAKE_SOURCE_DIR}/tools/gen/generate.py")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${KV_GENERATOR}" "${CMAKE_SOURCE_DIR}/src/engine/operation_table.h"
  "${CMAKE_SOURCE_DIR}/src/engine/operation_docs.py" "${CMAKE_SOURCE_DIR}/src/vocabulary/error_table.h")

function(kv_generate)
  execute_process(COMMAND "${Python3_EXECUTABLE}" "${KV_GENERATOR}" ${ARGN}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "tools/gen/generate.py ${ARGV0}: ${err}")
  endif()
  set(KV_GENERATED "${out}" PARENT_SCOPE)
endfunction()

kv_generate(count)
set(KV_OPERATION_COUNT "${KV_GENERATED}")

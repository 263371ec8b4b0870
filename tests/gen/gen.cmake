# The generated files held to the tables: the committed ones
# (tools/gen/generate.py committed --check), the public C header against the
# library it declares (public_header.cmake), the page declaration by tsc.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME generated_files_match_tables
  COMMAND "${Python3_EXECUTABLE}" "${CMAKE_SOURCE_DIR}/tools/gen/generate.py" committed --check)
add_test(NAME public_header_declares_the_exports
  COMMAND ${CMAKE_COMMAND} -DCC=${CMAKE_C_COMPILER} -DCXX=${CMAKE_CXX_COMPILER}
    -DHEADER=${CMAKE_SOURCE_DIR}/sdk/korvessa.h -DLIBRARY=$<TARGET_FILE:korvessa_lib>
    -DPYTHON=${Python3_EXECUTABLE} -DGENERATOR=${CMAKE_SOURCE_DIR}/tools/gen/generate.py
    -DWORK=${CMAKE_BINARY_DIR}/public_header -P ${CMAKE_SOURCE_DIR}/tests/gen/public_header.cmake)
# The page object's declaration type-checks with a page script that uses
# both call forms; skipped where tests/browser's npm packages are not installed.
set(KV_TSC "${CMAKE_SOURCE_DIR}/tests/browser/node_modules/.bin/tsc")
add_test(NAME page_declaration_typechecks
  COMMAND sh -c "[ -x \"$0\" ] || exit 77; exec \"$0\" --noEmit --strict --lib es2020,dom \"$1\" \"$2\""
    "${KV_TSC}" "${CMAKE_SOURCE_DIR}/sdk/korvessa.d.ts" "${CMAKE_SOURCE_DIR}/tests/gen/page_types_use.ts")
set_tests_properties(page_declaration_typechecks PROPERTIES SKIP_RETURN_CODE 77)

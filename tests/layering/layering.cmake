# The layering tests: each runs the compiler on include_probe.cpp with one
# layer's include root, as the layer's own sources are built, and expects an
# include from a layer above (or from the stand-in's private folders) not to
# be found. A companion test compiles the same probe with an allowed include,
# so a broken probe cannot pass for a refused include.
set(KV_PROBE "${CMAKE_CURRENT_LIST_DIR}/include_probe.cpp")
set(KV_PROBE_FLAGS -std=c++17 -fsyntax-only -DKV_PLATFORM_STANDIN=1 -DKV_WINCRYPT_STRUCT_NAMES=1
    -I${CMAKE_SOURCE_DIR}/src/platform/include)

# kv_layering_probe(<test name> <include root> <allowed header> [<wrong-way header>])
function(kv_layering_probe name root allowed)
  set(flags ${KV_PROBE_FLAGS} -I${root} "-DKV_PROBE_ALLOWED=\"${allowed}\"")
  if(ARGC GREATER 3)
    set(wrong "${ARGV3}")
    add_test(NAME layering.${name} COMMAND ${CMAKE_CXX_COMPILER} ${flags} "-DKV_PROBE_WRONG_WAY=\"${wrong}\"" ${KV_PROBE})
    string(REGEX REPLACE "([.+])" "\\\\\\1" pattern "${wrong}")
    # gcc: "x.h: No such file or directory"; clang: "'x.h' file not found".
    set_tests_properties(layering.${name} PROPERTIES
      PASS_REGULAR_EXPRESSION "${pattern}'?:? (No such file or directory|file not found)")
  else()
    add_test(NAME layering.${name} COMMAND ${CMAKE_CXX_COMPILER} ${flags} ${KV_PROBE})
  endif()
endfunction()

kv_layering_probe(codec_compiles "${KV_CODEC_ROOT}" codec/byte_buffer.h)
kv_layering_probe(codec_sees_no_engine "${KV_CODEC_ROOT}" codec/byte_buffer.h engine/capi_engine.h)
kv_layering_probe(codec_sees_no_dialogs "${KV_CODEC_ROOT}" codec/byte_buffer.h ui/dialog_launch.h)
kv_layering_probe(codec_sees_no_area "${KV_CODEC_ROOT}" codec/byte_buffer.h cert/cert_info.h)
kv_layering_probe(codec_sees_no_platform_internals "${KV_CODEC_ROOT}" codec/byte_buffer.h handles/handle_table.h)
kv_layering_probe(areas_compile "${KV_AREAS_ROOT}" sign/pkcs7_builder.h)
kv_layering_probe(areas_see_no_engine "${KV_AREAS_ROOT}" engine/error_codes.h engine/capi_engine.h)
kv_layering_probe(areas_see_no_doors "${KV_AREAS_ROOT}" cert/cert_info.h api/export_door.h)
kv_layering_probe(operations_compile "${KV_OPERATIONS_ROOT}" engine/capi_engine.h)
kv_layering_probe(operations_see_no_doors "${KV_OPERATIONS_ROOT}" engine/capi_engine.h api/export_door.h)

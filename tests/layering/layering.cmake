# The layering tests: each runs the compiler on include_probe.cpp with one
# layer's include root, as the layer's own sources are built, and expects an
# include from a layer above (or from the stand-in's private folders) not to
# be found. A companion test compiles the same probe with an allowed include,
# so a broken probe cannot pass for a refused include.
set(KV_PROBE "${CMAKE_CURRENT_LIST_DIR}/include_probe.cpp")
set(KV_PROBE_FLAGS -std=c++17 -fsyntax-only -DKV_PLATFORM_STANDIN=1 -DKV_WINCRYPT_STRUCT_NAMES=1
    -I${CMAKE_SOURCE_DIR}/src/platform/include -I${KV_DES_ROOT} -I${KV_DER_ROOT}
    -I${CMAKE_SOURCE_DIR}/src/seam/include)

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

kv_layering_probe(des_sees_no_codec "${KV_DES_ROOT}" des/des_core.h codec/des_cipher.h)
kv_layering_probe(der_sees_no_codec "${KV_DER_ROOT}" der/der_builder.h codec/byte_buffer.h)
kv_layering_probe(der_sees_no_platform_internals "${KV_DER_ROOT}" der/der_span.h kernel/file_time.h)
kv_layering_probe(vocabulary_compiles "${KV_VOCABULARY_ROOT}" vocabulary/text.h)
kv_layering_probe(vocabulary_sees_no_codec "${KV_VOCABULARY_ROOT}" vocabulary/error_codes.h codec/byte_buffer.h)
kv_layering_probe(codec_compiles "${KV_CODEC_ROOT}" codec/byte_buffer.h)
kv_layering_probe(codec_sees_des "${KV_CODEC_ROOT}" codec/des_cipher.h)
kv_layering_probe(sign_sees_der "${KV_AREA_ROOT_sign}" sign/signer_certificate.h)
kv_layering_probe(codec_sees_no_engine "${KV_CODEC_ROOT}" codec/byte_buffer.h engine/capi_engine.h)
kv_layering_probe(codec_sees_no_dialogs "${KV_CODEC_ROOT}" codec/byte_buffer.h ui/dialog_launch.h)
kv_layering_probe(codec_sees_no_area "${KV_CODEC_ROOT}" codec/byte_buffer.h cert/cert_info.h)
kv_layering_probe(codec_sees_no_platform_internals "${KV_CODEC_ROOT}" codec/byte_buffer.h handles/handle_table.h)
kv_layering_probe(operations_compile "${KV_OPERATIONS_ROOT}" engine/capi_engine.h)
kv_layering_probe(operations_see_no_doors "${KV_OPERATIONS_ROOT}" engine/capi_engine.h api/export_door.h)

# Area to area: each area compiles one of its headers with its own root, sees
# the areas it is documented to use, and finds neither the engine, the doors
# nor any other area.
set(KV_AREA_HEADER_cert cert/cert_info.h)
set(KV_AREA_HEADER_host host/caller_origin.h)
set(KV_AREA_HEADER_ui ui/dialog_model.h)
set(KV_AREA_HEADER_sign sign/pkcs7_builder.h)
set(KV_AREA_HEADER_crypt crypt/envelope.h)
set(KV_AREA_HEADER_keys keys/mobile_key_record.h)
foreach(area ${KV_AREAS})
  set(root "${KV_AREA_ROOT_${area}}")
  set(own "${KV_AREA_HEADER_${area}}")
  kv_layering_probe(${area}_compiles "${root}" ${own})
  kv_layering_probe(${area}_sees_no_engine "${root}" ${own} engine/capi_engine.h)
  kv_layering_probe(${area}_sees_no_doors "${root}" ${own} api/export_door.h)
  foreach(other ${KV_AREAS})
    if(other STREQUAL area)
      continue()
    endif()
    if(other IN_LIST KV_AREA_USES_${area})
      kv_layering_probe(${area}_uses_${other} "${root}" ${KV_AREA_HEADER_${other}})
    else()
      kv_layering_probe(${area}_sees_no_${other} "${root}" ${own} ${KV_AREA_HEADER_${other}})
    endif()
  endforeach()
endforeach()

# The multi-precision integer module of mbed TLS for the Windows DLL, built
# from Debian's source of the very version the Linux build links
# (libmbedtls-dev). tools/setup/mbedtls_source.sh unpacks it; `./run.sh test`
# runs that step before cross-building. Defines the static library
# kv_mbedtls_bignum.

set(KV_MBEDTLS_SOURCE_DIR "${CMAKE_SOURCE_DIR}/build/third_party/mbedtls" CACHE PATH
  "Debian's mbed TLS source tree, as unpacked by tools/setup/mbedtls_source.sh")

set(_kv_mbedtls_setup "run tools/setup/mbedtls_source.sh (./run.sh test runs it) and configure again")
if(NOT EXISTS "${KV_MBEDTLS_SOURCE_DIR}/library/bignum.c")
  message(FATAL_ERROR "mbed TLS source not found in ${KV_MBEDTLS_SOURCE_DIR}: the key "
    "consistency check needs its multi-precision integers; ${_kv_mbedtls_setup}.")
endif()

# Where this machine has Debian's package too, the source must be that version.
set(_kv_mbedtls_stamp "${KV_MBEDTLS_SOURCE_DIR}/.debian-version")
find_program(KV_DPKG_QUERY dpkg-query)
mark_as_advanced(KV_DPKG_QUERY)
if(KV_DPKG_QUERY AND EXISTS "${_kv_mbedtls_stamp}")
  execute_process(COMMAND "${KV_DPKG_QUERY}" -W "-f=\${source:Version}" libmbedtls-dev
    OUTPUT_VARIABLE _kv_installed RESULT_VARIABLE _kv_rc ERROR_QUIET)
  file(STRINGS "${_kv_mbedtls_stamp}" _kv_unpacked LIMIT_COUNT 1)
  if(_kv_rc EQUAL 0 AND NOT _kv_installed STREQUAL "" AND NOT _kv_installed STREQUAL _kv_unpacked)
    message(FATAL_ERROR "mbed TLS source in ${KV_MBEDTLS_SOURCE_DIR} is ${_kv_unpacked} but "
      "libmbedtls-dev ${_kv_installed} is installed; ${_kv_mbedtls_setup}.")
  endif()
endif()

# bignum.c and what it calls: constant-time selection, zeroisation, and the
# platform layer that the library requires on Windows.
set(_kv_mbedtls_sources bignum.c constant_time.c platform_util.c platform.c)
list(TRANSFORM _kv_mbedtls_sources PREPEND "${KV_MBEDTLS_SOURCE_DIR}/library/")
add_library(kv_mbedtls_bignum STATIC ${_kv_mbedtls_sources})
target_include_directories(kv_mbedtls_bignum SYSTEM PUBLIC "${KV_MBEDTLS_SOURCE_DIR}/include"
  "${CMAKE_SOURCE_DIR}/cmake/mbedtls")
target_include_directories(kv_mbedtls_bignum PRIVATE "${KV_MBEDTLS_SOURCE_DIR}/library")
target_compile_definitions(kv_mbedtls_bignum PUBLIC "MBEDTLS_CONFIG_FILE=\"kv_mbedtls_config.h\"")
# A tree unpacked again keeps the archive's file times; the stamp written at
# unpacking is what tells the build that the sources changed.
if(EXISTS "${_kv_mbedtls_stamp}")
  set_property(SOURCE ${_kv_mbedtls_sources} APPEND PROPERTY OBJECT_DEPENDS "${_kv_mbedtls_stamp}")
endif()

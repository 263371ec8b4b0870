# The platform tests that call only Win32 and CryptoAPI, built for Windows
# and linked against the system's own DLLs, so what the stand-in claims of
# Windows is checked against a second implementation (run under Wine by
# tests/wine/conformance/run.sh). GoogleTest is built here from Debian's
# sources (package googletest) with the cross compiler.
set(KV_GTEST_SRC /usr/src/googletest/googletest)
if(NOT EXISTS ${KV_GTEST_SRC}/src/gtest-all.cc)
  message(FATAL_ERROR "KV_BUILD_CONFORMANCE needs GoogleTest's sources in ${KV_GTEST_SRC} (package googletest)")
endif()
add_library(kv_gtest STATIC ${KV_GTEST_SRC}/src/gtest-all.cc ${KV_GTEST_SRC}/src/gtest_main.cc)
target_include_directories(kv_gtest SYSTEM PUBLIC ${KV_GTEST_SRC}/include PRIVATE ${KV_GTEST_SRC})

# Every file here is also part of the Linux test run; one that needs the
# stand-in's own folders, OpenSSL or POSIX stays off this list, and so do the
# message texts (Wine words its own, in the prefix's language).
set(KV_CONFORMANCE_TESTS
  platform/cert/cert_conformance_test.cpp
  platform/code_pages_test.cpp
  platform/crypt/cipher_calls_test.cpp
  platform/crypt/crypt_test_bytes.cpp
  platform/crypt/key_container_calls_test.cpp
  platform/crypt/name_encode_test.cpp
  platform/crypt/provider_calls_test.cpp
  platform/crypt/shared_opened_keys_test.cpp
  platform/environment_test.cpp
  platform/files_test.cpp
  platform/handle_families_test.cpp
  platform/registry/registry_api_test.cpp
  platform/registry/registry_test_support.cpp
  platform/sync/events_security_test.cpp
  platform/sync/file_mapping_calls_test.cpp)
list(TRANSFORM KV_CONFORMANCE_TESTS PREPEND ${CMAKE_SOURCE_DIR}/tests/)
add_executable(korvessa_conformance ${KV_CONFORMANCE_TESTS} ${CMAKE_SOURCE_DIR}/tests/wine/conformance/home_windows.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/file_bytes.cpp)
# include/ stands in for the one stand-in header the registry tests' fixture names.
target_include_directories(korvessa_conformance PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests
  ${CMAKE_SOURCE_DIR}/tests/wine/conformance/include)
target_link_libraries(korvessa_conformance PRIVATE kv_gtest kv_vocabulary crypt32 advapi32 oleaut32 shlwapi)
target_link_options(korvessa_conformance PRIVATE -static)

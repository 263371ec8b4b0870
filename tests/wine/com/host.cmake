# The COM server's Windows test host (tests/wine/com/run.sh runs it under Wine).
add_executable(korvessa_com_host ${CMAKE_SOURCE_DIR}/tests/wine/com/com_host.cpp ${KV_COM_GEN}/korvessa_idl_i.c
  ${CMAKE_SOURCE_DIR}/tests/wine/wine_signer.cpp ${CMAKE_SOURCE_DIR}/tests/wine/host_support.cpp)
target_include_directories(korvessa_com_host PRIVATE ${KV_COM_GEN} ${CMAKE_SOURCE_DIR}/tests/wine)
target_link_libraries(korvessa_com_host PRIVATE ole32 oleaut32 uuid urlmon crypt32 advapi32)
target_link_options(korvessa_com_host PRIVATE -static -municode)
add_dependencies(korvessa_com_host kv_com_idl korvessa_lib)

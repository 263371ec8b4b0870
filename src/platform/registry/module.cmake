# korvessa-reg: the administration tool of the stand-in's registry (the only
# way to change HKEY_LOCAL_MACHINE on systems without one).
add_executable(korvessa_reg ${CMAKE_SOURCE_DIR}/tools/korvessa-reg/main.cpp)
set_target_properties(korvessa_reg PROPERTIES OUTPUT_NAME korvessa-reg)
target_include_directories(korvessa_reg PRIVATE ${CMAKE_SOURCE_DIR}/src/platform)
target_link_libraries(korvessa_reg PRIVATE kv_platform)

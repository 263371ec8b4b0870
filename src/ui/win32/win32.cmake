# The Windows build's dialog renderer and its resource templates; the Linux
# build leaves src/ui/win32 out (kv_sources skips it).
target_sources(korvessa_lib PRIVATE
  ${CMAKE_SOURCE_DIR}/src/ui/win32/win32_renderer.cpp
  ${CMAKE_SOURCE_DIR}/src/ui/win32/dialogs.rc)
target_link_libraries(korvessa_lib PRIVATE comctl32)

# The Windows test programs run under Wine by tests/wine/run.sh: the host
# that loads korvessa.dll and calls its exports by their decorated names,
# and the gallery that shows every dialog model on the Win32 renderer.
set(KV_WINE_DIR ${CMAKE_SOURCE_DIR}/tests/wine)
add_executable(korvessa_wine_host
  ${KV_WINE_DIR}/wine_host.cpp ${KV_WINE_DIR}/host_support.cpp ${KV_WINE_DIR}/window_driver.cpp
  ${KV_WINE_DIR}/png_file.cpp ${KV_WINE_DIR}/checks_engine.cpp ${KV_WINE_DIR}/checks_store.cpp
  ${KV_WINE_DIR}/wine_signer.cpp ${KV_WINE_DIR}/checks_dialogs.cpp)
target_link_libraries(korvessa_wine_host PRIVATE crypt32 advapi32 user32 gdi32 oleaut32 version)
target_link_options(korvessa_wine_host PRIVATE -static -municode)
add_dependencies(korvessa_wine_host korvessa_lib)

add_executable(korvessa_dialog_gallery
  ${KV_WINE_DIR}/dialog_gallery.cpp ${KV_WINE_DIR}/host_support.cpp ${KV_WINE_DIR}/window_driver.cpp
  ${KV_WINE_DIR}/png_file.cpp ${CMAKE_SOURCE_DIR}/src/ui/win32/win32_renderer.cpp
  ${CMAKE_SOURCE_DIR}/src/ui/win32/dialogs.rc)
target_include_directories(korvessa_dialog_gallery PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(korvessa_dialog_gallery PRIVATE kv_core_static ${KV_PLATFORM_LIBS} comctl32 gdi32)
target_link_options(korvessa_dialog_gallery PRIVATE -static -municode)

# The GTK 3 renderer module, libkorvessa-gtk.so, loaded at run time by the
# engine only when a display is present. Built where GTK 3 is available; the
# engine itself never links GTK.
if(NOT WIN32)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(KV_GTK3 QUIET IMPORTED_TARGET gtk+-3.0)
  endif()
  if(KV_GTK3_FOUND)
    file(GLOB KV_GTK_SOURCES CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/*.cpp")
    add_library(korvessa_gtk MODULE ${KV_GTK_SOURCES})
    set_target_properties(korvessa_gtk PROPERTIES OUTPUT_NAME korvessa-gtk PREFIX "lib"
      LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
    target_include_directories(korvessa_gtk PRIVATE "${CMAKE_SOURCE_DIR}/src"
      "${CMAKE_SOURCE_DIR}/src/platform/include")
    target_link_libraries(korvessa_gtk PRIVATE kv_common PkgConfig::KV_GTK3)
    # The module reaches the engine's objects only through their vtables;
    # the sanitizer's dynamic-type check would need the engine's (hidden)
    # type information.
    if(KV_SANITIZE)
      target_compile_options(korvessa_gtk PRIVATE -fno-sanitize=vptr)
    endif()
    add_dependencies(korvessa_lib korvessa_gtk)

    # Drives every dialog through the module under a virtual display and
    # saves a picture of each (see tests/ui/gtk_dialogs_test.cpp).
    if(KV_BUILD_TESTS)
      add_executable(korvessa_dialog_shots "${CMAKE_SOURCE_DIR}/tests/ui/gtk/dialog_shots.cpp")
      target_include_directories(korvessa_dialog_shots PRIVATE "${CMAKE_SOURCE_DIR}/src")
      target_link_libraries(korvessa_dialog_shots PRIVATE kv_core_static)
      add_dependencies(korvessa_dialog_shots korvessa_gtk)
      add_dependencies(korvessa_lib korvessa_dialog_shots)
    endif()
  endif()
endif()

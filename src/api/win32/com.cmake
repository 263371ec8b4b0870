# The Windows build's COM server: the scriptable object CAPI, its class
# factory, the four server entries, the registration script and the type
# library. tools/gen/generate.py writes korvessa.idl at configure time from
# the operation table (every entry: the interface is fixed), and widl
# compiles it into korvessa.tlb (resource TYPELIB 1) and the C++ header and
# identifiers that the object and the test host include.
#
# The three identifiers are chosen once; the type library, the registration
# (which reads them back from the compiled identifiers) and the code all take
# them from here.
set(KV_COM_LIBID "3288eb43-b669-4e9b-8ffb-79a321f7d0b4")
set(KV_COM_IID   "9903b481-8d23-45f9-88f2-a6f3f42829b7")
set(KV_COM_CLSID "dd44fce0-d027-40d5-b376-f7b5cf85c825")

set(KV_COM_DIR ${CMAKE_SOURCE_DIR}/src/api/win32)
set(KV_COM_GEN ${CMAKE_BINARY_DIR}/com)
file(MAKE_DIRECTORY ${KV_COM_GEN})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KV_COM_DIR}/com.cmake")

# --- korvessa.idl from the table ---------------------------------------------
include(${CMAKE_SOURCE_DIR}/cmake/operation_table.cmake)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KV_COM_DIR}/korvessa.idl.in")
kv_generate(idl --template ${KV_COM_DIR}/korvessa.idl.in --out ${KV_COM_GEN}/korvessa.idl
  --iid ${KV_COM_IID} --libid ${KV_COM_LIBID} --clsid ${KV_COM_CLSID})
configure_file(${KV_COM_DIR}/oaidl_base.idl ${KV_COM_GEN}/oaidl.idl COPYONLY)

# --- widl: type library, header, identifiers ------------------------------------
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(widl_arch --win32)
  set(triple i686-w64-mingw32)
  set(wine_dir /usr/lib/i386-linux-gnu/wine/i386-windows)
else()
  set(widl_arch --win64)
  set(triple x86_64-w64-mingw32)
  set(wine_dir /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
endif()
find_program(KV_WIDL NAMES ${triple}-widl widl REQUIRED)
# IDispatch is referred to in the system's stdole2.tlb, as every automation
# type library does; Wine's copy serves the compiler.
find_path(KV_STDOLE_DIR stdole2.tlb PATHS ${wine_dir} /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  /usr/lib/i386-linux-gnu/wine/i386-windows NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KV_STDOLE_DIR)
  message(FATAL_ERROR "stdole2.tlb not found: install wine64 (tools/setup/apt-packages.txt)")
endif()
set(KV_COM_TLB ${KV_COM_GEN}/korvessa.tlb)
add_custom_command(
  OUTPUT ${KV_COM_TLB} ${KV_COM_GEN}/korvessa_idl.h ${KV_COM_GEN}/korvessa_idl_i.c
  COMMAND ${KV_WIDL} ${widl_arch} -I ${KV_COM_GEN} -L ${KV_STDOLE_DIR} -t -o ${KV_COM_TLB} korvessa.idl
  COMMAND ${KV_WIDL} ${widl_arch} -I ${KV_COM_GEN} -h -H korvessa_idl.h -o korvessa_idl.h korvessa.idl
  COMMAND ${KV_WIDL} ${widl_arch} -I ${KV_COM_GEN} -u -o korvessa_idl_i.c korvessa.idl
  DEPENDS ${KV_COM_GEN}/korvessa.idl ${KV_COM_GEN}/oaidl.idl
  WORKING_DIRECTORY ${KV_COM_GEN}
  COMMENT "widl: korvessa.tlb and the ICAPI header")
add_custom_target(kv_com_idl DEPENDS ${KV_COM_TLB} ${KV_COM_GEN}/korvessa_idl.h ${KV_COM_GEN}/korvessa_idl_i.c)

# --- the object and the server entries in the DLL --------------------------------
set(KV_COM_RC ${KV_COM_DIR}/com_resources.rc)
target_sources(korvessa_lib PRIVATE
  ${KV_COM_DIR}/capi_object.cpp ${KV_COM_DIR}/capi_control.cpp ${KV_COM_DIR}/capi_methods.cpp
  ${KV_COM_DIR}/class_factory.cpp ${KV_COM_DIR}/com_registration.cpp
  ${KV_COM_DIR}/site_lock.cpp ${KV_COM_DIR}/type_library.cpp ${KV_COM_DIR}/com_module.cpp
  ${KV_COM_GEN}/korvessa_idl_i.c ${KV_COM_RC})
set_source_files_properties(${KV_COM_RC} PROPERTIES OBJECT_DEPENDS
  "${KV_COM_TLB};${KV_COM_DIR}/capi_registration.rgs;${KV_COM_DIR}/toolbox.bmp;${KV_COM_DIR}/com_resources.rc")
target_include_directories(korvessa_lib PRIVATE ${KV_COM_GEN})
# windres takes its include folders from the target too; the resource names the
# generated type library by its plain name.
add_dependencies(korvessa_lib kv_com_idl)
target_link_libraries(korvessa_lib PRIVATE uuid urlmon)
include(${CMAKE_SOURCE_DIR}/tests/wine/com/host.cmake)

// Loading the engine library and finding its exports: the one part of the
// hosts that differs between Linux (dlopen of libkorvessa.so, plain C names,
// strings freed by the library's own SysFreeString) and Windows (LoadLibraryW
// of korvessa.dll, operations under their decorated names _Name@N, strings
// freed by the system's oleaut32).
#pragma once

#include <string>

namespace korvessa::module {

// $KORVESSA_LIBRARY, or else the engine library beside this program (UTF-8).
std::string LibraryPath();

// Null with *error set when the library cannot be loaded.
void* Open(const std::string& path, std::string* error);

// An export by the name the operation table gives it ("Hash",
// "GetErrorCode") or by a door's plain name ("KvAdmitWebOrigin"); null when
// the library has none.
void* Symbol(void* library, const char* name);

// The module whose SysFreeString and SysStringLen free the library's strings.
void* StringCalls(void* library);

}  // namespace korvessa::module

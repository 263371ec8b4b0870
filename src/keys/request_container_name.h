// Names of new key containers (and of the registry probe value): 36
// characters in the form 8-4-4-4-12, upper-case hexadecimal, drawn from the
// platform's cryptographic random generator so that names made in the same
// instant differ and cannot be guessed.
#pragma once

#include <windows.h>

#include <string>

namespace kv::keys {

// A fresh name in *name; false with the platform error in *error when the
// random generator is not available.
bool NewContainerName(std::string* name, DWORD* error);

}  // namespace kv::keys

// The default name of an exported PFX file, taken from the certificate's
// subject common name, made fit to be a file name in the ANSI code page.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace kv::keys {

// The subject's common name in the ANSI code page as a file name stem (no
// extension): each character the code page cannot carry, and each one
// Windows refuses in a file name (\ / : * ? " < > | and control characters),
// becomes '_'; a stem that names a device (CON, NUL, COM1...) gets a '_'
// appended. Names the code page carries and the file system accepts come out
// as the common name itself, up to the 99 bytes the name getter has always
// kept (cut at a character boundary). Empty when the certificate has no
// common name.
std::string CommonNameFileStem(PCCERT_CONTEXT certificate);

}  // namespace kv::keys

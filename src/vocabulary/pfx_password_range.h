// The password length range the PFX dialogs enforce until a caller sets its
// own (SetPfxPasswordRange): shared by the engine, which keeps the range, and
// the dialogs, which fall back to it, without the dialogs seeing the engine.
#pragma once

#include <windows.h>

inline constexpr LONG kDefaultPwdMinLen = 0;
inline constexpr LONG kDefaultPwdMaxLen = 16;

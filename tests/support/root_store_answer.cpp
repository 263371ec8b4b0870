// The test program's answer to the stand-in's root-store question: yes, as
// the user at a Windows test machine would click, so that tests putting
// authorities into "ROOT" need no dialog. Tests of the question itself
// install the dialog's prompt (kv::ui::AskRootStoreTrust) for their scope.
#include <windows.h>

#include "kvwin/desktop.h"

namespace {

bool Trust(const BYTE*, DWORD) { return true; }

[[maybe_unused]] const bool kAnswered = (kv::platform::SwapRootStorePrompt(&Trust), true);

}  // namespace

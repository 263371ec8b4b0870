// The Windows renderer: shows a dialog model with its resource template
// (dialogs.rc) as a modal Win32 dialog, tells the model of every change,
// click and selection, and brings the controls back in line with the model.
#pragma once

#include "ui/dialog_renderer.h"

namespace kv::ui {

// The process's Win32 renderer (never null in the Windows build).
CDialogRenderer* Win32Renderer();

}  // namespace kv::ui

// CDialogRenderer: what draws a dialog model and runs its modal loop, and
// the choice of renderer for the current call: scripted answers when
// $KORVESSA_DIALOGS names a file, the desktop module when a display is
// present, none otherwise (a dialog then cannot be created).
#pragma once

#include <windows.h>

#include <string>

class CKvDialog;

class CDialogRenderer {
 public:
  virtual ~CDialogRenderer() = default;
  // IDOK or IDCANCEL once the dialog has closed, or -1 when it cannot be
  // shown.
  virtual INT_PTR RunModal(CKvDialog& dialog) = 0;
  // Brackets common dialogs (open-file, folder browser, message boxes)
  // shown outside RunModal, so they reach this renderer.
  virtual void BeginCommonDialogs() = 0;
  virtual void EndCommonDialogs() = 0;
};

namespace kv::ui {

// The renderer for a dialog shown now, or null when none is available.
CDialogRenderer* ActiveRenderer();

// The process environment's value of `name` ("" when unset). On Windows it
// is read from the process block, so a host that sets it at run time is
// heard.
std::string EnvironmentValue(const char* name);

// The open-file dialog without an owner (as HashFile asks for a file):
// true with the chosen full path (ANSI); false when the user cancelled or
// no dialog could be shown. `filter` is in the "desc|pattern|...||" form.
bool ChooseFileToOpen(const std::string& title, const std::string& filter, const std::string& initialFolder,
                      HWND owner, DWORD flags, std::string* path, const char* defaultExtension = nullptr);

// "desc|pattern|desc|pattern||" as the "desc\0pattern\0...\0\0" list the
// open-file dialog takes.
std::string FilterForOpenFile(const std::string& filter);

}  // namespace kv::ui

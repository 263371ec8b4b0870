// The system's common dialogs as the dialog models use them: message boxes,
// the folder browser and opening a file with its viewer. On Linux the
// platform layer already hands these to the active renderer; on Windows a
// scripted run answers them from the script instead of showing a window no
// one will close.
#pragma once

#include <windows.h>

#include <string>

namespace kv::ui {

// MessageBoxA: the button pressed.
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
// SHBrowseForFolderA and SHGetPathFromIDListA: true with the chosen folder.
bool BrowseForFolder(HWND owner, const std::string& title, std::string* folder);
// ShellExecuteA "open" of a file; failures are not reported.
void OpenDocument(HWND owner, const std::string& path);

}  // namespace kv::ui

// Drives the real dialogs of a modal call from a second thread, as a person
// would: waits for the window, photographs it, types and clicks. The call
// itself runs on the calling thread, which runs the dialog's message loop.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace wine_test {

// A visible top-level window of this process with that caption, waited
// for up to `timeoutMs`; null when none showed.
HWND WaitForWindow(const std::wstring& caption, DWORD timeoutMs = 10000);
// Waits until `window` is gone; false on timeout.
bool WaitGone(HWND window, DWORD timeoutMs = 10000);
// Saves the screen area of the window as <output folder>\wine-shots\name.png.
bool Screenshot(HWND window, const std::wstring& name);
// Replaces an edit's text as typing would.
void TypeInto(HWND dialog, int id, const std::wstring& text);
// Presses a button; false when it is disabled (nothing is pressed).
bool Click(HWND dialog, int id);
std::wstring ControlText(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
// Texts of the list view's row `row`, cells separated by '|'.
std::wstring ListRow(HWND dialog, int id, int row, int columns);
int ListSelected(HWND dialog, int id);
void SelectListRow(HWND dialog, int id, int row);
// The id of the control that has the keyboard focus in the dialog's thread;
// 0 when none has.
int FocusedControl(HWND dialog);
// The labels (static texts) of the dialog that their rectangle cuts, as its
// own drawing would lay them out in its font; one per line, empty when all fit.
std::wstring ClippedLabels(HWND dialog);

// Runs `call` here while `drive` runs on a second thread; returns once both
// have finished.
void WithDriver(const std::function<void()>& call, const std::function<void()>& drive);

}  // namespace wine_test

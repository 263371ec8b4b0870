// Finding, photographing and operating dialog windows from a driver thread.
#include "window_driver.h"

#include <commctrl.h>

#include <thread>
#include <vector>

#include "host_support.h"
#include "png_file.h"

namespace wine_test {
namespace {

struct Search {
  const std::wstring* caption;
  HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  wchar_t text[256] = {0};
  GetWindowTextW(window, text, 256);
  if (*search->caption != text) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

HWND WaitForWindow(const std::wstring& caption, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  do {
    Search search = {&caption, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      Sleep(500);  // let it paint
      return search.found;
    }
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

bool WaitGone(HWND window, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

bool Screenshot(HWND window, const std::wstring& name) {
  // What was just typed is painted by the dialog's own thread.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
  Sleep(300);
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  std::vector<uint8_t> bgr(stride * height);
  int rows = GetDIBits(memory, bitmap, 0, height, bgr.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != height) return false;
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) rgb[(static_cast<size_t>(y) * width + x) * 3 + c] = bgr[y * stride + x * 3 + 2 - c];
  CreateDirectoryW(OutputPath(L"wine-shots").c_str(), nullptr);
  return WritePng(OutputPath(L"wine-shots\\" + name + L".png"), width, height, rgb);
}

// As typing: a multi-line edit reports no change for WM_SETTEXT, so the
// whole text is selected and replaced, which every edit reports.
void TypeInto(HWND dialog, int id, const std::wstring& text) {
  HWND edit = GetDlgItem(dialog, id);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

bool Click(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button || !IsWindowEnabled(button)) return false;
  // Posted: a click that opens a message box must not hold this thread.
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return true;
}

std::wstring ControlText(HWND dialog, int id) {
  wchar_t text[1024] = {0};
  GetDlgItemTextW(dialog, id, text, 1024);
  return text;
}

bool ControlEnabled(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control && IsWindowEnabled(control);
}

std::wstring ListRow(HWND dialog, int id, int row, int columns) {
  HWND list = GetDlgItem(dialog, id);
  std::wstring out;
  for (int i = 0; i < columns; ++i) {
    wchar_t cell[256] = {0};
    LVITEMW item = {};
    item.iSubItem = i;
    item.pszText = cell;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    if (i) out += L'|';
    out += cell;
  }
  return out;
}

int ListSelected(HWND dialog, int id) {
  return static_cast<int>(SendMessageW(GetDlgItem(dialog, id), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void SelectListRow(HWND dialog, int id, int row) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(GetDlgItem(dialog, id), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

int FocusedControl(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) || !info.hwndFocus) return 0;
  return GetDlgCtrlID(info.hwndFocus);
}

namespace {

BOOL CALLBACK MeasureLabel(HWND control, LPARAM param) {
  wchar_t kind[16] = {0}, text[1024] = {0};
  GetClassNameW(control, kind, 16);
  if (lstrcmpiW(kind, L"Static") != 0 || GetWindowTextW(control, text, 1024) == 0) return TRUE;
  RECT client, need;
  GetClientRect(control, &client);
  need = client;
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  // The flags a left-aligned static draws with.
  DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  if (need.right > client.right || need.bottom > client.bottom) {
    std::wstring* clipped = reinterpret_cast<std::wstring*>(param);
    *clipped += text;
    *clipped += L'\n';
  }
  return TRUE;
}

}  // namespace

std::wstring ClippedLabels(HWND dialog) {
  std::wstring clipped;
  EnumChildWindows(dialog, MeasureLabel, reinterpret_cast<LPARAM>(&clipped));
  return clipped;
}

void WithDriver(const std::function<void()>& call, const std::function<void()>& drive) {
  std::thread driver(drive);
  call();
  driver.join();
}

}  // namespace wine_test

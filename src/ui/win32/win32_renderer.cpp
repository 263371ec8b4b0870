// Dialog models as resource dialogs of this module. The model owns the
// rules; this file only carries texts (ANSI code page in the model, UTF-16
// in the controls), states and events between the two.
#include "ui/win32/win32_renderer.h"

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "ui/dialog_model.h"

namespace kv::ui {
namespace {

std::wstring Wide(const std::string& ansi) {
  if (ansi.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &out[0], n);
  return out;
}

std::string Ansi(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring WindowText(HWND control) {
  int n = GetWindowTextLengthW(control);
  if (n <= 0) return {};
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(control, &text[0], n + 1);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

// This module's instance: the resource templates are found in it whatever
// module called the operation.
HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

struct Session {
  CKvDialog* model = nullptr;
  HWND window = nullptr;
  bool syncing = false;  // control changes made by Sync are not the user's
};

class CWin32Renderer : public CDialogRenderer {
 public:
  INT_PTR RunModal(CKvDialog& dialog) override;
  // The system draws the common dialogs; nothing to route.
  void BeginCommonDialogs() override {}
  void EndCommonDialogs() override {}

 private:
  Session* current_ = nullptr;
};

void FillList(Session& s, HWND list) {
  const CKvDialog& model = *s.model;
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  for (size_t i = 0; i < model.Columns().size(); ++i) {
    std::wstring title = Wide(model.Columns()[i].title);
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = model.Columns()[i].width;
    column.pszText = &title[0];
    column.iSubItem = static_cast<int>(i);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  int row = 0;
  for (const std::vector<std::string>& cells : model.Rows()) {
    if (cells.empty()) continue;
    std::wstring first = Wide(cells[0]);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = &first[0];
    int at = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0) continue;  // a row that cannot be inserted is skipped
    for (size_t i = 1; i < cells.size(); ++i) {
      std::wstring cell = Wide(cells[i]);
      LVITEMW sub = {};
      sub.iSubItem = static_cast<int>(i);
      sub.pszText = &cell[0];
      SendMessageW(list, LVM_SETITEMTEXTW, at, reinterpret_cast<LPARAM>(&sub));
    }
    ++row;
  }
}

// Brings every control with an id in line with the model.
void Sync(Session& s) {
  s.syncing = true;
  for (const DialogControl& c : s.model->Controls()) {
    if (c.id == kStaticId) continue;
    HWND control = GetDlgItem(s.window, c.id);
    if (!control) continue;
    if (IsWindowEnabled(control) != (c.enabled ? TRUE : FALSE)) EnableWindow(control, c.enabled);
    switch (c.kind) {
      case ControlKind::kEdit:
        SendMessageW(control, EM_LIMITTEXT, c.limit > 0 ? c.limit : 0, 0);
        SendMessageW(control, EM_SETREADONLY, c.readOnly, 0);
        [[fallthrough]];
      case ControlKind::kStatic: {
        std::wstring text = Wide(c.text);
        if (WindowText(control) != text) SetWindowTextW(control, text.c_str());
        break;
      }
      case ControlKind::kListView: {
        int row = s.model->HighlightedRow();
        int shown = ListView_GetNextItem(control, -1, LVNI_SELECTED);
        if (row != shown) {
          if (shown >= 0) ListView_SetItemState(control, shown, 0, LVIS_SELECTED | LVIS_FOCUSED);
          if (row >= 0) ListView_SetItemState(control, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        }
        break;
      }
      default:
        break;
    }
  }
  s.syncing = false;
}

// After each event: close once the model has ended, else follow it.
void AfterEvent(Session& s) {
  if (s.model->Ended()) {
    EndDialog(s.window, s.model->Result());
    return;
  }
  Sync(s);
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Session* s = reinterpret_cast<Session*>(GetWindowLongPtrW(window, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      s = reinterpret_cast<Session*>(lParam);
      SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(s));
      s->window = window;
      // The model's title, which names the web origin of a page's call.
      SetWindowTextW(window, Wide(s->model->Title()).c_str());
      s->model->Start(window);
      for (const DialogControl& c : s->model->Controls())
        if (c.kind == ControlKind::kListView && c.id != kStaticId) FillList(*s, GetDlgItem(window, c.id));
      AfterEvent(*s);
      return TRUE;
    }
    case WM_COMMAND: {
      if (!s || s->syncing) return FALSE;
      int id = LOWORD(wParam);
      int code = HIWORD(wParam);
      const DialogControl* c = s->model->FindControl(id);
      if (code == EN_CHANGE && c && c->kind == ControlKind::kEdit) {
        s->model->TypeText(id, Ansi(WindowText(reinterpret_cast<HWND>(lParam))));
        AfterEvent(*s);
        return TRUE;
      }
      if (code == BN_CLICKED || (lParam == 0 && (id == IDOK || id == IDCANCEL))) {
        // Escape and the close box arrive as IDCANCEL without a button.
        if (id == IDCANCEL && (!c || lParam == 0))
          s->model->Close();
        else
          s->model->PressButton(id);
        AfterEvent(*s);
        return TRUE;
      }
      return FALSE;
    }
    case WM_NOTIFY: {
      if (!s || s->syncing) return FALSE;
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code != LVN_ITEMCHANGED) return FALSE;
      const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
      if (!((change->uOldState ^ change->uNewState) & LVIS_SELECTED)) return FALSE;
      s->model->HighlightRow(ListView_GetNextItem(header->hwndFrom, -1, LVNI_SELECTED));
      AfterEvent(*s);
      return TRUE;
    }
    case WM_CLOSE:
      if (!s) return FALSE;
      s->model->Close();
      AfterEvent(*s);
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR CWin32Renderer::RunModal(CKvDialog& dialog) {
  if (current_) return -1;  // one modal dialog at a time
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  Session session;
  session.model = &dialog;
  current_ = &session;
  // Owned by the caller's active window, so the dialog stays above the
  // program that asked; none when the thread has no window.
  INT_PTR result = DialogBoxParamW(ThisModule(), MAKEINTRESOURCEW(dialog.ResourceId()), GetActiveWindow(),
                                   DialogProc, reinterpret_cast<LPARAM>(&session));
  current_ = nullptr;
  if (result == -1 || result == 0) return -1;  // the template could not be loaded
  return dialog.Result();
}

}  // namespace

CDialogRenderer* Win32Renderer() {
  static CWin32Renderer renderer;
  return &renderer;
}

}  // namespace kv::ui

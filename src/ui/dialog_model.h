// CKvDialog: the portable model of one modal dialog. It holds the dialog's
// controls as a resource template would (id, kind, text, state, position in
// dialog units) and carries the dialog's behaviour; a renderer (scripted
// answers, GTK, Win32) only draws the controls, reports what the user did
// and runs the modal loop.
//
// What a renderer calls is virtual or inline, so that a separately built
// renderer module can drive a model without linking to the library that
// defines it. Texts are narrow strings in the ANSI code page.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Controls without an id of their own (labels, frames).
inline constexpr int kStaticId = -1;

enum class ControlKind { kStatic, kGroupBox, kButton, kEdit, kListView };

struct DialogRect {
  int x, y, cx, cy;  // dialog units
};

struct DialogControl {
  int id = kStaticId;
  ControlKind kind = ControlKind::kStatic;
  std::string text;
  DialogRect rect{0, 0, 0, 0};
  bool enabled = true;
  bool readOnly = false;
  bool password = false;   // characters shown masked
  bool multiline = false;
  bool vscroll = false;
  bool defaultButton = false;
  int limit = 0;  // characters the user may type; 0: no limit
};

struct ListColumn {
  std::string title;
  int width;  // pixels
};

class CKvDialog {
 public:
  CKvDialog(int resourceId, const char* titleUtf8, int cx, int cy);
  virtual ~CKvDialog();
  CKvDialog(const CKvDialog&) = delete;
  CKvDialog& operator=(const CKvDialog&) = delete;

  // Runs the dialog with the active renderer: IDOK or IDCANCEL, or -1 when
  // no dialog can be shown.
  virtual INT_PTR DoModal();

  // --- what renderers read ---
  int ResourceId() const { return m_resourceId; }
  const std::string& Title() const { return m_title; }
  int WidthDlu() const { return m_cx; }
  int HeightDlu() const { return m_cy; }
  const std::vector<DialogControl>& Controls() const { return m_controls; }
  const DialogControl* FindControl(int id) const {
    for (const DialogControl& c : m_controls)
      if (c.id == id && id != kStaticId) return &c;
    return nullptr;
  }
  const std::vector<ListColumn>& Columns() const { return m_columns; }
  const std::vector<std::vector<std::string>>& Rows() const { return m_rows; }
  int HighlightedRow() const { return m_highlighted; }
  bool Ended() const { return m_ended; }
  INT_PTR Result() const { return m_result; }

  // --- what renderers report ---
  // The window exists (hwnd may be any handle the renderer recognises as its
  // own); fills the controls from the members.
  virtual void Start(HWND hwnd);
  // The user changed an edit's text. Characters beyond the control's limit
  // are cut. Ignored for disabled and read-only edits.
  virtual void TypeText(int id, const std::string& text);
  // The user pressed a button; ignored when it is disabled.
  virtual void PressButton(int id);
  // The user highlighted a list row (-1: none).
  virtual void HighlightRow(int row);
  // The window's close box or Escape: as "Cancel".
  virtual void Close();
  // Whether a renderer may type into the control.
  virtual bool AcceptsText(int id) const;

 protected:
  virtual void OnInitDialog() {}
  virtual void OnEditChange(int /*id*/) {}
  virtual void OnCommand(int /*id*/) {}
  virtual void OnOK();
  virtual void OnCancel();

  void EndDialog(INT_PTR result);
  DialogControl& AddControl(int id, ControlKind kind, const char* textUtf8, DialogRect rect);
  DialogControl* Control(int id);
  const std::string& Text(int id) const;
  void SetText(int id, const std::string& text);
  void Enable(int id, bool enabled);
  void SetLimit(int id, int limit);
  void SetColumns(const std::vector<ListColumn>& columns) { m_columns = columns; }
  void SetRows(const std::vector<std::vector<std::string>>& rows) { m_rows = rows; }
  // Error box over the dialog (caption "錯誤訊息", error icon, OK); the
  // dialog stays open.
  void ShowError(const std::string& text);

  HWND m_hWnd = nullptr;

 private:
  int m_resourceId;
  std::string m_title;
  int m_cx, m_cy;
  std::vector<DialogControl> m_controls;
  std::vector<ListColumn> m_columns;
  std::vector<std::vector<std::string>> m_rows;
  int m_highlighted = -1;
  bool m_ended = false;
  INT_PTR m_result = IDCANCEL;
};

namespace kv::ui {

// Length in characters of narrow ANSI text (a double-byte character counts
// once).
size_t CharCount(const std::string& text);
// The first maxChars characters of narrow ANSI text.
std::string CutToChars(const std::string& text, size_t maxChars);

}  // namespace kv::ui

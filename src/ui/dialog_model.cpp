// The model side of every dialog: controls, their state and the common
// reactions (typing, pressing, closing, error boxes).
#include "ui/dialog_model.h"

#include "vocabulary/text.h"
#include "host/caller_origin.h"
#include "ui/common_dialogs.h"
#include "ui/dialog_renderer.h"
#include "ui/dialog_texts.h"

namespace kv::ui {

size_t CharCount(const std::string& text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i, ++count) {
    if (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[i])) && i + 1 < text.size()) ++i;
  }
  return count;
}

std::string CutToChars(const std::string& text, size_t maxChars) {
  size_t end = 0;
  for (size_t chars = 0; end < text.size() && chars < maxChars; ++chars)
    end += (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[end])) && end + 1 < text.size()) ? 2 : 1;
  return text.substr(0, end);
}

}  // namespace kv::ui

CKvDialog::CKvDialog(int resourceId, const char* titleUtf8, int cx, int cy)
    : m_resourceId(resourceId),
      // A page's call names its origin in every dialog it causes.
      m_title(kv::CaptionWithCallerOrigin(kv::Utf8ToNarrow(titleUtf8))),
      m_cx(cx),
      m_cy(cy) {}

CKvDialog::~CKvDialog() = default;

INT_PTR CKvDialog::DoModal() {
  CDialogRenderer* renderer = kv::ui::ActiveRenderer();
  if (!renderer) return -1;
  m_ended = false;
  m_result = IDCANCEL;
  return renderer->RunModal(*this);
}

void CKvDialog::Start(HWND hwnd) {
  m_hWnd = hwnd;
  m_ended = false;
  m_result = IDCANCEL;
  OnInitDialog();
}

bool CKvDialog::AcceptsText(int id) const {
  const DialogControl* c = FindControl(id);
  return c && c->kind == ControlKind::kEdit && c->enabled && !c->readOnly;
}

void CKvDialog::TypeText(int id, const std::string& text) {
  if (m_ended || !AcceptsText(id)) return;
  DialogControl* c = Control(id);
  c->text = c->limit > 0 ? kv::ui::CutToChars(text, static_cast<size_t>(c->limit)) : text;
  OnEditChange(id);
}

void CKvDialog::PressButton(int id) {
  if (m_ended) return;
  const DialogControl* c = FindControl(id);
  if (!c || c->kind != ControlKind::kButton || !c->enabled) return;
  if (id == IDOK)
    OnOK();
  else if (id == IDCANCEL)
    OnCancel();
  else
    OnCommand(id);
}

void CKvDialog::HighlightRow(int row) {
  if (m_ended) return;
  m_highlighted = (row >= 0 && static_cast<size_t>(row) < m_rows.size()) ? row : -1;
}

void CKvDialog::Close() {
  if (!m_ended) OnCancel();
}

void CKvDialog::OnOK() { EndDialog(IDOK); }

void CKvDialog::OnCancel() { EndDialog(IDCANCEL); }

void CKvDialog::EndDialog(INT_PTR result) {
  m_ended = true;
  m_result = result;
}

DialogControl& CKvDialog::AddControl(int id, ControlKind kind, const char* textUtf8, DialogRect rect) {
  DialogControl c;
  c.id = id;
  c.kind = kind;
  c.text = kv::Utf8ToNarrow(textUtf8);
  c.rect = rect;
  m_controls.push_back(c);
  return m_controls.back();
}

DialogControl* CKvDialog::Control(int id) {
  for (DialogControl& c : m_controls)
    if (c.id == id && id != kStaticId) return &c;
  return nullptr;
}

const std::string& CKvDialog::Text(int id) const {
  static const std::string empty;
  const DialogControl* c = FindControl(id);
  return c ? c->text : empty;
}

void CKvDialog::SetText(int id, const std::string& text) {
  if (DialogControl* c = Control(id)) c->text = text;
}

void CKvDialog::Enable(int id, bool enabled) {
  if (DialogControl* c = Control(id)) c->enabled = enabled;
}

void CKvDialog::SetLimit(int id, int limit) {
  if (DialogControl* c = Control(id)) c->limit = limit > 0 ? limit : 0;
}

void CKvDialog::ShowError(const std::string& text) {
  kv::ui::ShowMessageBox(m_hWnd, text, kv::Utf8ToNarrow(kv::ui::text::kErrorCaption), MB_ICONHAND | MB_OK);
}

// The page action confirmation's controls and its two answers.
#include "ui/page_action_dialog.h"

#include <memory>
#include <new>

#include "ui/dialog_texts.h"

namespace t = kv::ui::text;

CPageActionDlg::CPageActionDlg() : CKvDialog(210, t::kPageActionTitle, 300, 150) {
  AddControl(kStaticId, ControlKind::kStatic, t::kPageActionSiteLabel, {7, 7, 286, 10});
  AddControl(IDC_PAGE_ACTION_ORIGIN, ControlKind::kEdit, "", {7, 19, 286, 13}).readOnly = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kPageActionLabel, {7, 38, 286, 10});
  DialogControl& what = AddControl(IDC_PAGE_ACTION_WHAT, ControlKind::kEdit, "", {7, 50, 286, 58});
  what.multiline = true;
  what.vscroll = true;
  what.readOnly = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kPageActionQuestion, {7, 113, 286, 10});
  AddControl(IDOK, ControlKind::kButton, t::kPageActionAllow, {177, 129, 55, 14});
  // Enter on an unread dialog lets nothing happen.
  AddControl(IDCANCEL, ControlKind::kButton, t::kPageActionDeny, {238, 129, 55, 14}).defaultButton = true;
}

void CPageActionDlg::OnInitDialog() {
  SetText(IDC_PAGE_ACTION_ORIGIN, m_origin);
  SetText(IDC_PAGE_ACTION_WHAT, m_what);
}

namespace kv::ui {

ErrorCode ConfirmPageAction(const std::string& origin, const std::string& what) {
  std::unique_ptr<CPageActionDlg> dialog(new (std::nothrow) CPageActionDlg());
  if (!dialog) return ERR_MEM_ALLOC;
  dialog->m_origin = origin;
  dialog->m_what = what;
  INT_PTR result = dialog->DoModal();
  if (result == IDOK) return ERR_SUCCESS;
  if (result == IDCANCEL) return ERR_USER_CANCEL;
  return ERR_MEM_ALLOC;
}

}  // namespace kv::ui

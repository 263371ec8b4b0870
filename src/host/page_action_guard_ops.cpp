// The page action guard: which operations a page's call may run only with
// the person's word, and what the confirmation says about each.
//
// Asked (the table below): operations that create, install, export,
// re-protect or delete keys, certificates or trust. Not asked: reading
// (version, errors, host facts, certificate fields, the store snapshot,
// HashFile, QueryPfxInfo, which only reads a file the page names), settings
// that live in this process (SetProviderName, PresetPasswdLengthRange,
// SetDefaultPfxFileName), signer selection and encryption, which use no key
// without the signing confirmation or a page-supplied one; signing has its
// own confirmation (201), which a page cannot skip either; registry writes
// keep the site lock's key out of a page's reach (registry_ops.cpp).
#include "host/page_action_guard.h"

#include <wincrypt.h>

#include <string>

#include "cert/cert_info.h"
#include "cert/store_snapshot.h"
#include "engine/capi_engine.h"
#include "kvseam/owned_handles.h"
#include "vocabulary/text.h"
#include "host/caller_origin.h"
#include "keys/pfx_common.h"
#include "ui/dialog_model.h"
#include "ui/dialog_texts.h"
#include "ui/page_action_dialog.h"

namespace kv::host {
namespace {

namespace t = kv::ui::text;

struct PageActionRow {
  PageAction action;
  const char* what;
  // Labels of the leading string arguments shown (null: not shown). A
  // password is never among them.
  const char* shown[2];
};

constexpr PageActionRow kRows[] = {
    {PageAction::kCreateKey, t::kPageCreateKey, {t::kPageCommonName, nullptr}},
    {PageAction::kInstallCertificates, t::kPageInstallCerts, {nullptr, nullptr}},
    {PageAction::kImportPfx, t::kPageImportPfx, {t::kPageFileFolder, t::kPageFileName}},
    {PageAction::kExportPfx, t::kPageExportPfx, {t::kPageFilter, t::kPageTargetFolder}},
    {PageAction::kMobileFromPfx, t::kPageMobileFromPfx, {t::kPageFileFolder, t::kPageFileName}},
    {PageAction::kMobileFromStore, t::kPageMobileFromStore, {t::kPageFilter, nullptr}},
    {PageAction::kChangePfxPassword, t::kPageChangePassword, {t::kPageFileFolder, t::kPageFileName}},
};

// Longest argument shown, in characters: enough to recognise a path or a
// filter, short enough to keep the dialog readable.
constexpr size_t kShownChars = 260;

// One line of the dialog from text a page (or a certificate) chose. Line
// breaks and other control characters (a NUL too) become "?", so no line
// of it can read as the engine's own.
void AddLine(std::string* what, const char* labelUtf8, std::string value) {
  for (char& c : value)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  if (kv::ui::CharCount(value) > kShownChars) value = kv::ui::CutToChars(value, kShownChars) + "...";
  *what += "\r\n" + kv::Utf8ToNarrow(labelUtf8) + value;
}

// An argument as shown: the whole string, an empty one as "未指定" (a dialog
// will ask for it).
std::string ArgText(BSTR arg) {
  std::string text = arg ? kv::WideToNarrow(arg, static_cast<int>(SysStringLen(arg))) : std::string();
  return text.empty() ? kv::Utf8ToNarrow(t::kUnspecified) : text;
}

ErrorCode Ask(CCapiEngine& engine, const std::string& what) {
  ErrorCode code = kv::ui::ConfirmPageAction(kv::CallerOrigin(), what);
  if (code == ERR_SUCCESS) return code;
  engine.ResetErrors();
  engine.Fail(code);
  return code;
}

}  // namespace

ErrorCode ConfirmPageAction(CCapiEngine& engine, PageAction action, std::initializer_list<BSTR> args, LONG flags) {
  if (kv::CallerOrigin().empty()) return ERR_SUCCESS;
  const PageActionRow* row = nullptr;
  for (const PageActionRow& r : kRows)
    if (r.action == action) row = &r;
  std::string what = kv::Utf8ToNarrow(row ? row->what : "");
  size_t index = 0;
  for (BSTR arg : args) {
    if (row && index < 2 && row->shown[index]) AddLine(&what, row->shown[index], ArgText(arg));
    ++index;
  }
  if (action == PageAction::kExportPfx && (flags & kv::keys::kExportThenDelete))
    what += "\r\n" + kv::Utf8ToNarrow(t::kPageExportThenDelete);
  ErrorCode code = Ask(engine, what);
  if (code != ERR_SUCCESS)
    for (BSTR arg : args) SysFreeString(arg);
  return code;
}

ErrorCode ConfirmPageDeletion(CCapiEngine& engine, LONG index) {
  if (kv::CallerOrigin().empty()) return ERR_SUCCESS;
  const std::vector<BYTE>* listed = engine.Snapshot().At(index);
  if (!listed) return ERR_SUCCESS;
  const std::vector<BYTE>& der = *listed;
  std::string what = kv::Utf8ToNarrow(t::kPageDeleteCert);
  kv::OwnedCertificate context(
      CertCreateCertificateContext(kCertEncoding, der.data(), static_cast<DWORD>(der.size())));
  if (context) {
    CCertInfo info(context.get());
    std::string name = info.GetSubjectCN();
    AddLine(&what, t::kPageCommonName, name.empty() ? info.GetSubject() : name);
    AddLine(&what, t::kPageSerial, info.GetSerial());
  }
  return Ask(engine, what);
}

}  // namespace kv::host

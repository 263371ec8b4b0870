// What a web page may not do to the user's keys and trust without the
// person's word. During a page's call (a caller origin is set) each of these
// operations first shows the page action confirmation (210) naming the
// origin and what will happen, and goes on only when the person allows it;
// a refusal fails the operation with ERR_USER_CANCEL before it changes
// anything. Desktop callers are never asked. No flag skips it.
//
// The decision, operation by operation, is the table in
// page_action_guard_ops.cpp; each listed operation calls the guard as its first
// statement.
#pragma once

#include <windows.h>

#include <initializer_list>

#include "vocabulary/error_codes.h"

class CCapiEngine;

namespace kv::host {

enum class PageAction {
  kCreateKey,           // CreatePKCS10, CreatePKCS10Pair
  kInstallCertificates, // AcceptPKCS7
  kImportPfx,           // ImportPfxToIE
  kExportPfx,           // ExportPfxFromIE
  kMobileFromPfx,       // ExportMobileFromPfx
  kMobileFromStore,     // ExportMobileFromIE
  kChangePfxPassword,   // ChangePfxPasswd, ChangePfxPasswdEx
};

// ERR_SUCCESS: go on (a desktop call, or the person allowed it); the
// engine's error state is untouched. Otherwise the operation must return at
// once with its empty result: the error state holds the code
// (ERR_USER_CANCEL, or ERR_MEM_ALLOC when no dialog can be shown) and every
// argument in `args` has been freed. `args` are the operation's string
// arguments in order (all of them, so none leaks); the dialog shows the
// leading ones its row names, never a password. `flags` is the operation's
// dwFlags where its meaning changes what will happen.
ErrorCode ConfirmPageAction(CCapiEngine& engine, PageAction action, std::initializer_list<BSTR> args,
                            LONG flags = 0);

// DeleteIECert's guard: names the certificate of the store snapshot at the
// 1-based `index`. An index the snapshot does not have deletes nothing, so it
// is not asked about.
ErrorCode ConfirmPageDeletion(CCapiEngine& engine, LONG index);

}  // namespace kv::host

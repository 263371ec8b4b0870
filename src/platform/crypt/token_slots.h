// What the smart-card provider reads of PKCS#11 slots and tokens: the
// present tokens, the container names that identify a token's key, object
// searches and attribute reads, busy tokens retried, and the card error a
// module's result stands for.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "crypt/p11_modules.h"

namespace kv::platform::crypt {

struct PresentToken {
  CK_FUNCTION_LIST* functions;
  CK_SLOT_ID slot;
  std::string label;
  std::string serial;
  CK_FLAGS flags;
};

// Initialised tokens in every module's slots; *anySlot tells whether any
// module has a slot at all (a reader, with or without a token).
std::vector<PresentToken> PresentTokens(bool* anySlot);

// Container names: "<token label>/<token serial>/<key CKA_ID in hex>".
std::u16string ContainerOf(const PresentToken& token, const std::vector<BYTE>& id);
bool ParseContainer(const std::u16string& container, std::string* label, std::string* serial, std::vector<BYTE>* id);

// A token another process is reading or writing at the same moment may
// answer with a general failure (SoftHSM rereads its files); the call is
// made again shortly, as a card's middleware retries a busy card. A refused
// PIN is never tried again.
CK_RV RetryBusy(const std::function<CK_RV()>& call);

std::vector<CK_OBJECT_HANDLE> FindObjects(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, CK_ATTRIBUTE* query,
                                          CK_ULONG count);
// False when the module refuses (*rv) or the attribute is not available.
bool ReadAttribute(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                   std::vector<BYTE>* value, CK_RV* rv);

// Whether the result says the token (or its session) is gone.
bool Removed(CK_RV rv);
// The value a card's provider reports for a module's result.
HRESULT CardError(CK_RV rv);

// Counts what this process wrote to tokens, so listings read them again.
unsigned TokenWrites();
void NoteTokenWrite();

}  // namespace kv::platform::crypt

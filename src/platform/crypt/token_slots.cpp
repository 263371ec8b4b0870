// Slots, tokens, container names and card errors of the smart-card provider.
#include "crypt/token_slots.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "kvcommon/utf.h"

namespace kv::platform::crypt {
namespace {

constexpr int kBusyAttempts = 5;

std::atomic<unsigned> g_writes{0};

std::string Padded(const CK_UTF8CHAR* text, size_t size) {
  std::string s(reinterpret_cast<const char*>(text), size);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

std::string Hex(const std::vector<BYTE>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (BYTE b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool FromHex(const std::string& hex, std::vector<BYTE>* out) {
  if (hex.empty() || hex.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (char c : {hex[i], hex[i + 1]}) {
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    out->push_back(static_cast<BYTE>(value));
  }
  return true;
}

}  // namespace

CK_RV RetryBusy(const std::function<CK_RV()>& call) {
  CK_RV rv = CKR_GENERAL_ERROR;
  for (int attempt = 0; attempt < kBusyAttempts; ++attempt) {
    if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(10 << attempt));
    rv = call();
    if (rv != CKR_GENERAL_ERROR && rv != CKR_DEVICE_ERROR) break;
  }
  return rv;
}

std::vector<PresentToken> PresentTokens(bool* anySlot) {
  std::vector<PresentToken> tokens;
  *anySlot = false;
  for (CK_FUNCTION_LIST* f : Pkcs11Modules()) {
    CK_ULONG count = 0;
    if (f->C_GetSlotList(CK_FALSE, nullptr, &count) == CKR_OK && count) *anySlot = true;
    count = 0;
    if (f->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK || count == 0) continue;
    std::vector<CK_SLOT_ID> slots(count);
    if (f->C_GetSlotList(CK_TRUE, slots.data(), &count) != CKR_OK) continue;
    slots.resize(count);
    for (CK_SLOT_ID slot : slots) {
      CK_TOKEN_INFO info{};
      if (RetryBusy([&] { return f->C_GetTokenInfo(slot, &info); }) != CKR_OK ||
          !(info.flags & CKF_TOKEN_INITIALIZED)) {
        continue;
      }
      tokens.push_back({f, slot, Padded(info.label, sizeof(info.label)),
                        Padded(info.serialNumber, sizeof(info.serialNumber)), info.flags});
    }
  }
  return tokens;
}

std::u16string ContainerOf(const PresentToken& token, const std::vector<BYTE>& id) {
  return kv::Utf8ToUtf16Lossy(token.label + "/" + token.serial + "/" + Hex(id));
}

bool ParseContainer(const std::u16string& container, std::string* label, std::string* serial, std::vector<BYTE>* id) {
  std::string name = kv::Utf16ToUtf8(container);
  size_t last = name.rfind('/');
  if (last == std::string::npos || last == 0) return false;
  size_t middle = name.rfind('/', last - 1);
  if (middle == std::string::npos) return false;
  *label = name.substr(0, middle);
  *serial = name.substr(middle + 1, last - middle - 1);
  return FromHex(name.substr(last + 1), id);
}

std::vector<CK_OBJECT_HANDLE> FindObjects(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, CK_ATTRIBUTE* query,
                                          CK_ULONG count) {
  std::vector<CK_OBJECT_HANDLE> objects;
  if (f->C_FindObjectsInit(session, query, count) != CKR_OK) return objects;
  CK_OBJECT_HANDLE batch[16];
  CK_ULONG found = 0;
  while (f->C_FindObjects(session, batch, 16, &found) == CKR_OK && found) objects.insert(objects.end(), batch, batch + found);
  f->C_FindObjectsFinal(session);
  return objects;
}

bool ReadAttribute(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                   std::vector<BYTE>* value, CK_RV* rv) {
  CK_ATTRIBUTE attribute{type, nullptr, 0};
  if ((*rv = f->C_GetAttributeValue(session, object, &attribute, 1)) != CKR_OK) return false;
  if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) return false;
  value->resize(attribute.ulValueLen);
  attribute.pValue = value->data();
  *rv = f->C_GetAttributeValue(session, object, &attribute, 1);
  return *rv == CKR_OK;
}

bool Removed(CK_RV rv) {
  return rv == CKR_DEVICE_REMOVED || rv == CKR_TOKEN_NOT_PRESENT || rv == CKR_SESSION_HANDLE_INVALID ||
         rv == CKR_SESSION_CLOSED || rv == CKR_SLOT_ID_INVALID || rv == CKR_TOKEN_NOT_RECOGNIZED;
}

HRESULT CardError(CK_RV rv) {
  if (Removed(rv)) return SCARD_W_REMOVED_CARD;
  switch (rv) {
    case CKR_PIN_INCORRECT:
    case CKR_PIN_INVALID:
    case CKR_PIN_LEN_RANGE:
      return SCARD_W_WRONG_CHV;
    case CKR_PIN_LOCKED:
      return SCARD_W_CHV_BLOCKED;
    case CKR_FUNCTION_CANCELED:
      return SCARD_W_CANCELLED_BY_USER;
    case CKR_HOST_MEMORY:
      return NTE_NO_MEMORY;
    case CKR_DEVICE_MEMORY:
      return NTE_TOKEN_KEYSET_STORAGE_FULL;
    case CKR_KEY_HANDLE_INVALID:
    case CKR_OBJECT_HANDLE_INVALID:
      return NTE_BAD_KEYSET;
    case CKR_DATA_LEN_RANGE:
      return NTE_BAD_LEN;
    default:
      return SCARD_E_UNEXPECTED;
  }
}

unsigned TokenWrites() { return g_writes.load(); }
void NoteTokenWrite() { ++g_writes; }

}  // namespace kv::platform::crypt

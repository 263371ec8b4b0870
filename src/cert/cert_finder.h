// CCertFinder: one open certificate store ("MY" or a memory store) searched
// with the filter language, a required key usage and a validity check, keeping
// all matches or the best one. CPfxFile (pfx_file.h) runs the same search and
// keeps the first match.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "kvseam/owned_handles.h"
#include "vocabulary/error_codes.h"

// Search flag bits.
inline constexpr LONG kFindSelectMask = 0x3;
inline constexpr LONG kFindSelectBest = 0x2;
inline constexpr LONG kFindCheckValidity = 0x4;
inline constexpr LONG kFindExtended = 0x8;
inline constexpr LONG kFindEarliestStart = 0x20;
inline constexpr LONG kFindLatestEnd = 0x40;
inline constexpr LONG kFindEarliestEnd = 0x80;

// A list of duplicated certificate contexts owned by the caller; freed when
// the list is cleared or destroyed.
class CCertContextList {
 public:
  CCertContextList() = default;
  CCertContextList(const CCertContextList&) = delete;
  CCertContextList& operator=(const CCertContextList&) = delete;

  void Clear() { m_items.clear(); }
  void Add(kv::OwnedCertificate context) { m_items.push_back(std::move(context)); }
  size_t Count() const { return m_items.size(); }
  bool Empty() const { return m_items.empty(); }
  PCCERT_CONTEXT operator[](size_t i) const { return m_items[i].get(); }

 private:
  std::vector<kv::OwnedCertificate> m_items;
};

struct CertSearchRequest {
  CCertContextList* results = nullptr;
  std::string filter;
  LONG flags = 0;
  LONG requiredKeyUsage = 0;
  const FILETIME* compareTime = nullptr;  // null: now
};

// Frees a block read by GetKeyProvInfo.
struct KeyProvInfoDeleter {
  void operator()(CRYPT_KEY_PROV_INFO* info) const { delete[] reinterpret_cast<BYTE*>(info); }
};
using KeyProvInfoPtr = std::unique_ptr<CRYPT_KEY_PROV_INFO, KeyProvInfoDeleter>;

class CCertFinder {
 public:
  CCertFinder() = default;
  virtual ~CCertFinder() { Close(); }
  CCertFinder(const CCertFinder&) = delete;
  CCertFinder& operator=(const CCertFinder&) = delete;

  ErrorCode OpenMyStore();
  ErrorCode OpenMemoryStore();
  virtual void Close();
  // All matches in enumeration order, or only the best (select bits == 2).
  ErrorCode Find(const CertSearchRequest& request);
  KeyProvInfoPtr GetKeyProvInfo(PCCERT_CONTEXT context);

  HCERTSTORE Store() const { return m_store.get(); }
  DWORD LastError() const { return m_lastError; }

 protected:
  enum class SearchMode { AllOrBest, FirstOnly };
  ErrorCode Search(const CertSearchRequest& request, SearchMode mode);

  kv::OwnedStore m_store;
  DWORD m_lastError = 0;
};

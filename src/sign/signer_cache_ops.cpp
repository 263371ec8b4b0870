// The signer entries of the shared area: saving the engine's record and the
// typed readers.
#include "sign/signer_cache.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "codec/digests.h"
#include "engine/capi_engine.h"
#include "host/caller_origin.h"
#include "sign/shared_memory.h"
#include "sign/signer_state.h"

namespace {

// Tests running in parallel processes each pick their own area through
// KORVESSA_SIGNER_AREA; every real host shares the fixed name. Calls made
// for a web origin get an area of that origin's own (the name followed by a
// digest of the origin), so one site never sees the signer another chose.
std::string SignerAreaName() {
  const char* configured = std::getenv("KORVESSA_SIGNER_AREA");
  std::string name = configured && *configured ? configured : kSignerAreaName;
  const std::string& origin = kv::CallerOrigin();
  if (origin.empty()) return name;
  CSha256Digest digest;
  CByteBuffer hex;
  if (!digest.Compute(origin.data(), static_cast<int32_t>(origin.size())) ||
      !hex.EncodeHex(digest.Data(), 16))
    return name + " " + origin;  // a longer name, still the origin's own
  return name + " " + std::string(reinterpret_cast<const char*>(hex.Data()), static_cast<size_t>(hex.Size()));
}

}  // namespace

cSharedMemory* CSignerCache::Area() {
  kv::sign::SignerState& signer = m_engine.Signer();
  if (!signer.Cache()) {
    signer.SetCache(
        std::unique_ptr<cSharedMemory>(new (std::nothrow) cSharedMemory(SignerAreaName(), kSignerAreaSize)));
  }
  return signer.Cache();
}

void CSignerCache::SaveSigner() {
  cSharedMemory* area = Area();
  if (!area) return;
  const kv::sign::SignerState& signer = m_engine.Signer();
  if (area->Exists(kSignerMediaKey))
    area->UpdateInt(kSignerMediaKey, signer.Source());
  else
    area->AddInt(kSignerMediaKey, signer.Source());

  // A certificate longer than the cached one cannot be updated in place;
  // re-adding it keeps the bytes and the hash of one signer together.
  const CByteBuffer& cert = signer.Certificate();
  const DWORD certLength = cert.Size() > 0 ? static_cast<DWORD>(cert.Size()) : 0;
  if (area->Exists(kSignerCertBytesKey) && !area->Update(kSignerCertBytesKey, cert.Data(), certLength)) {
    area->Remove(kSignerCertBytesKey);
    area->Add(kSignerCertBytesKey, cert.Data(), certLength);
  } else if (!area->Exists(kSignerCertBytesKey)) {
    area->Add(kSignerCertBytesKey, cert.Data(), certLength);
  }
  WriteString(kSignerCertHashKey, signer.Fingerprint());
  WriteString(kSignerCertPasswdKey, signer.PfxPassword());
  WriteString(kSignerCertFilePathKey, signer.PfxPath());
  WriteString(kSignerCertFileNameKey, signer.PfxName());
}

LONG CSignerCache::ReadInt(const std::string& key) {
  cSharedMemory* area = m_engine.Signer().Cache();
  return area ? area->ReadInt(key, -1) : -1;
}

std::string CSignerCache::ReadString(const std::string& key) {
  cSharedMemory* area = m_engine.Signer().Cache();
  if (!area) return {};
  DWORD length = 0;
  if (!area->Read(key, nullptr, &length)) return {};
  std::vector<char> buffer(length + 2, '\0');
  if (!area->Read(key, buffer.data(), &length)) return {};
  return std::string(buffer.data());
}

bool CSignerCache::ReadBytes(const std::string& key, CByteBuffer& out) {
  out.Clear();
  cSharedMemory* area = m_engine.Signer().Cache();
  if (!area) return false;
  DWORD length = 0;
  if (!area->Read(key, nullptr, &length) || length == 0) return false;
  if (!out.Allocate(static_cast<int32_t>(length))) return false;
  if (!area->Read(key, out.Data(), &length)) {
    out.Clear();
    return false;
  }
  return true;
}

void CSignerCache::WriteString(const std::string& key, const std::string& value) {
  cSharedMemory* area = Area();
  if (!area) return;
  if (area->Exists(key)) area->Remove(key);
  if (!value.empty()) area->Add(key, value.data(), static_cast<DWORD>(value.size()));
}

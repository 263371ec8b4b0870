// Security descriptors, SIDs and access lists in their Windows layouts, and
// the process heap. The stand-in's named objects are private to their user
// whatever descriptor they are given; these calls build and check the
// structures so the engine's code runs as it does on Windows.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

// SID: revision 1, sub-authority count, 6-byte authority, 32-bit sub-authorities.
struct SidHeader {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
};
constexpr BYTE kSidRevision = 1;
constexpr BYTE kMaxSubAuthorities = 15;
constexpr BYTE kAccessAllowedAceType = 0;

struct AceHeader {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
};

bool ValidSid(PSID sid) {
  auto* h = static_cast<SidHeader*>(sid);
  return h && h->Revision == kSidRevision && h->SubAuthorityCount <= kMaxSubAuthorities;
}

DWORD SidLength(PSID sid) { return 8 + 4 * static_cast<SidHeader*>(sid)->SubAuthorityCount; }

}  // namespace

extern "C" BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  if (!pSecurityDescriptor || dwRevision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(dwRevision != SECURITY_DESCRIPTOR_REVISION ? ERROR_UNKNOWN_REVISION : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memset(pSecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
  static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

extern "C" BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1,
                                                DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7,
                                                PSID* pSid) {
  if (!authority || !pSid || count > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* sid = static_cast<BYTE*>(std::calloc(1, 8 + 4 * count));
  if (!sid) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  auto* h = reinterpret_cast<SidHeader*>(sid);
  h->Revision = kSidRevision;
  h->SubAuthorityCount = count;
  h->IdentifierAuthority = *authority;
  const DWORD subs[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  std::memcpy(sid + 8, subs, 4u * count);
  *pSid = sid;
  return TRUE;
}

extern "C" PVOID WINAPI FreeSid(PSID pSid) {
  std::free(pSid);
  return nullptr;
}

extern "C" DWORD WINAPI GetLengthSid(PSID pSid) { return ValidSid(pSid) ? SidLength(pSid) : 0; }

extern "C" BOOL WINAPI InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
  if (!pAcl || nAclLength < sizeof(ACL) || nAclLength > 0xFFFF || (dwAclRevision != ACL_REVISION && dwAclRevision != 4)) {
    SetLastError(nAclLength < sizeof(ACL) ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memset(pAcl, 0, sizeof(ACL));
  pAcl->AclRevision = static_cast<BYTE>(dwAclRevision);
  pAcl->AclSize = static_cast<WORD>(nAclLength);
  return TRUE;
}

extern "C" BOOL WINAPI AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
  if (!pAcl || pAcl->AclRevision < ACL_REVISION || !ValidSid(pSid)) {
    SetLastError(!ValidSid(pSid) ? ERROR_INVALID_SID : ERROR_INVALID_ACL);
    return FALSE;
  }
  (void)dwAceRevision;
  // Find the end of the ACEs already there.
  BYTE* base = reinterpret_cast<BYTE*>(pAcl);
  DWORD used = sizeof(ACL);
  for (WORD i = 0; i < pAcl->AceCount; ++i) {
    auto* ace = reinterpret_cast<AceHeader*>(base + used);
    if (ace->AceSize < sizeof(AceHeader) || used + ace->AceSize > pAcl->AclSize) {
      SetLastError(ERROR_INVALID_ACL);
      return FALSE;
    }
    used += ace->AceSize;
  }
  DWORD aceSize = sizeof(AceHeader) + sizeof(DWORD) + SidLength(pSid);
  if (used + aceSize > pAcl->AclSize) {
    SetLastError(ERROR_ALLOTTED_SPACE_EXCEEDED);
    return FALSE;
  }
  AceHeader header = {kAccessAllowedAceType, 0, static_cast<WORD>(aceSize)};
  std::memcpy(base + used, &header, sizeof header);
  std::memcpy(base + used + sizeof header, &AccessMask, sizeof AccessMask);
  std::memcpy(base + used + sizeof header + sizeof AccessMask, pSid, SidLength(pSid));
  ++pAcl->AceCount;
  return TRUE;
}

extern "C" BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                                                 PACL pDacl, BOOL bDaclDefaulted) {
  auto* sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
  if (!sd || sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  sd->Dacl = bDaclPresent ? pDacl : nullptr;
  sd->Control = static_cast<WORD>((sd->Control & ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED)) |
                                  (bDaclPresent ? SE_DACL_PRESENT : 0) | (bDaclDefaulted ? SE_DACL_DEFAULTED : 0));
  return TRUE;
}

extern "C" HANDLE WINAPI GetProcessHeap(void) {
  static int heap;
  return &heap;
}

extern "C" LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  if (hHeap != GetProcessHeap()) return nullptr;
  void* p = (dwFlags & HEAP_ZERO_MEMORY) ? std::calloc(1, dwBytes ? dwBytes : 1) : std::malloc(dwBytes ? dwBytes : 1);
  return p;
}

extern "C" BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
  // Freeing nothing succeeds whatever the heap, as on Windows.
  if (!lpMem) return TRUE;
  if (hHeap != GetProcessHeap()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::free(lpMem);
  return TRUE;
}

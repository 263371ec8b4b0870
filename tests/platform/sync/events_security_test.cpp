// Named events, WaitForSingleObject, and the security-descriptor calls with
// their Windows layouts and errors, within one process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/sync/unique_name.h"

namespace {

using kv::test::UniqueName;

TEST(Events, NamedEventsFollowWindowsResults) {
  const std::string name = UniqueName("event");
  SetLastError(0xdeadbeef);
  EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  SetLastError(0xdeadbeef);
  HANDLE first = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  SetLastError(0xdeadbeef);
  HANDLE second = CreateEventA(nullptr, TRUE, TRUE, name.c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the initial state of an existing event is not changed";

  EXPECT_TRUE(SetEvent(second));
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "manual reset stays signalled";
  EXPECT_TRUE(ResetEvent(first));
  EXPECT_EQ(WaitForSingleObject(second, 10), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(first);
  CloseHandle(second);

  HANDLE autoReset = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(autoReset, nullptr);
  EXPECT_EQ(WaitForSingleObject(autoReset, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(autoReset, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "auto reset clears on a wait";
  CloseHandle(autoReset);
}

TEST(Events, BadHandlesAreRefused) {
  HANDLE bogus = reinterpret_cast<HANDLE>(0x5678);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetEvent(bogus));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ResetEvent(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A mutex handle is not an event.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  ASSERT_NE(mutex, nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetEvent(mutex));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(mutex);
}

TEST(Security, WorldAccessListHasTheWindowsLayout) {
  SECURITY_DESCRIPTOR sd;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(InitializeSecurityDescriptor(&sd, 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  EXPECT_EQ(sd.Revision, 1);
  EXPECT_EQ(sd.Dacl, nullptr);

  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  ASSERT_EQ(GetLengthSid(everyone), 12u);
  const BYTE expectedSid[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};  // S-1-1-0
  EXPECT_EQ(std::memcmp(everyone, expectedSid, sizeof expectedSid), 0);

  const DWORD aclSize = GetLengthSid(everyone) + 16;
  auto* acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, aclSize));
  ASSERT_NE(acl, nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(InitializeAcl(acl, 4, ACL_REVISION));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_TRUE(InitializeAcl(acl, aclSize, ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, everyone));
  EXPECT_EQ(acl->AclSize, aclSize);
  EXPECT_EQ(acl->AceCount, 1);
  const BYTE expectedAce[8] = {0, 0, 20, 0, 0, 0, 0, 0x10};  // allowed, 20 bytes, GENERIC_ALL
  EXPECT_EQ(std::memcmp(reinterpret_cast<BYTE*>(acl) + sizeof(ACL), expectedAce, sizeof expectedAce), 0);
  EXPECT_EQ(std::memcmp(reinterpret_cast<BYTE*>(acl) + sizeof(ACL) + 8, expectedSid, sizeof expectedSid), 0);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, everyone)) << "the list is full";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));

  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
  EXPECT_EQ(sd.Dacl, acl);
  EXPECT_EQ(sd.Control & (SE_DACL_PRESENT | SE_DACL_DEFAULTED), SE_DACL_PRESENT);

  // The descriptor is accepted (and has no effect on the owner-only access).
  SECURITY_ATTRIBUTES sa = {sizeof(SECURITY_ATTRIBUTES), &sd, FALSE};
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, 4096, UniqueName("secured").c_str());
  EXPECT_NE(mapping, nullptr);
  CloseHandle(mapping);

  EXPECT_EQ(FreeSid(everyone), nullptr);
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, acl));
  EXPECT_TRUE(HeapFree(reinterpret_cast<HANDLE>(0x1), 0, nullptr)) << "freeing nothing succeeds on any heap";
}

}  // namespace

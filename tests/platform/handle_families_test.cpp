// Kernel and crypto handles share one table: a handle of one family must be
// refused by the other family's calls, with that call's own error, and stay
// usable afterwards.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include "support/temp_home.h"

namespace {

constexpr DWORD kUntouched = 0xdeadbeef;

TEST(HandleFamilies, NeitherFamilyClosesTheOther) {
  kv::test::ScopedHome home;
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);

  // CloseHandle refuses the crypto handles.
  for (ULONG_PTR h : {static_cast<ULONG_PTR>(prov), static_cast<ULONG_PTR>(hash)}) {
    SetLastError(kUntouched);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(h)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  // The crypto calls refuse the kernel handle and each other's handles.
  const auto kernel = reinterpret_cast<ULONG_PTR>(event);
  // advapi32 checks its handles before the provider sees the call, so each
  // refusal is the same ERROR_INVALID_PARAMETER.
  SetLastError(kUntouched);
  EXPECT_FALSE(CryptDestroyHash(kernel));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_FALSE(CryptDestroyKey(hash));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  HCRYPTKEY key = 0;
  EXPECT_FALSE(CryptGetUserKey(hash, AT_SIGNATURE, &key));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_FALSE(CryptReleaseContext(kernel, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
#ifndef _WIN32
  // crypt32's message handles are bare pointers on Windows, where closing
  // another kind of handle is undefined; the stand-in's shared table refuses it.
  SetLastError(kUntouched);
  EXPECT_EQ(CryptMsgClose(reinterpret_cast<HCRYPTMSG>(hash)), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
#endif

  // Everything refused is still alive and works.
  const BYTE abc[] = {'a', 'b', 'c'};
  EXPECT_TRUE(CryptHashData(hash, abc, sizeof abc, 0));
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CryptDestroyHash(hash));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
  EXPECT_TRUE(CloseHandle(event));
}

}  // namespace

// The operation table's policy column held to what each operation does: in a
// protected-mode process every operation is called once from a known error
// state (a code and a platform number no operation gives), and what it
// clears and whether it refuses with 1500 must be what its entry says. The
// reference and the doors read the column, so an operation that drifts from
// it would be documented (and admitted) wrongly.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/capi_engine.h"
#include "engine/operation_params.h"
#include "support/temp_home.h"

namespace {

struct PolicyLine {
  const char* name;
  const char* reset;
  const char* protectedMode;
  void (*call)(CCapiEngine&);
};

void Discard(BSTR result) { SysFreeString(result); }
void Discard(LONG) {}

// Arguments that get past the checks some operations make before their
// refusal: a registry name holds a backslash, a ciphertext is Base64 and a
// key is hex; an index is 1-based.
BSTR Arg(const char* name) {
  if (std::strcmp(name, "strCipher") == 0) return SysAllocString(u"AAAAAAAAAAA=");
  if (std::strcmp(name, "strPasswdHex") == 0) return SysAllocString(u"0123456789ABCDEF0123456789ABCDEF");
  return SysAllocString(u"Korvessa\\policy");
}

#define KV_POLICY_ARG_BSTR(name) Arg(#name)
#define KV_POLICY_ARG_LONG(name) 1
#define KV_POLICY_ARG(type, name) KV_CAT(KV_POLICY_ARG_, type)(name)
#define KV_POLICY_ENTRY(reset, protectedMode, siteLock, refused, page) #reset, #protectedMode
#define KV_OPERATION(slot, dispid, result, name, exportName, params, policy) \
  {#name, KV_POLICY_ENTRY policy, [](CCapiEngine& e) { Discard(e.name(KV_PARAM_LIST(KV_POLICY_ARG, params))); }},
const std::vector<PolicyLine> kTable = {
#include "engine/operation_table.h"
};

class OperationPolicy : public kv::test::HomeTest {
 protected:
  kv::test::ScopedEnv protected_{"KORVESSA_PROTECTED_MODE", "1"};
};

TEST_F(OperationPolicy, EachOperationClearsAndRefusesAsItsEntrySays) {
  constexpr ErrorCode kEarlier = ERR_XML_GENERAL;
  constexpr DWORD kEarlierPlatform = 0x0BADF00D;
  CCapiEngine engine;
  for (const PolicyLine& op : kTable) {
    engine.FailWithPlatformError(kEarlier, kEarlierPlatform);
    op.call(engine);
    const ErrorCode code = engine.GetErrorCode();
    const DWORD platform = static_cast<DWORD>(engine.GetCapiErrorCode());
    const std::string reset = op.reset;
    SCOPED_TRACE(std::string(op.name) + " (" + op.reset + ", " + op.protectedMode + "): code " +
                 std::to_string(code) + ", platform " + std::to_string(platform));
    if (std::strcmp(op.protectedMode, "Refuses") == 0) {
      EXPECT_EQ(code, ERR_IE_PROTECTED_MODE);
      EXPECT_EQ(platform, reset == "Both" ? 0u : kEarlierPlatform);
      continue;
    }
    EXPECT_NE(code, ERR_IE_PROTECTED_MODE);
    if (reset == "Keep") {
      EXPECT_EQ(code, kEarlier);
      EXPECT_EQ(platform, kEarlierPlatform);
    } else {
      EXPECT_NE(code, kEarlier);
      // A success shows what the entry cleared; a failure may record its own number.
      if (code == ERR_SUCCESS) {
        EXPECT_EQ(platform, reset == "Both" ? 0u : kEarlierPlatform);
      }
    }
  }
}

}  // namespace

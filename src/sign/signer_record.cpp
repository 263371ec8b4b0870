// The PFX full-name rule and the platform-provider test.
#include "sign/signer_record.h"

#include "vocabulary/text.h"

namespace kv::sign {

std::string JoinPfxPath(const std::string& folder, const std::string& name) {
  bool endsWithSeparator = !folder.empty() && FindLastBackslash(folder) == folder.size() - 1;
  return endsWithSeparator ? folder + name : folder + "\\" + name;
}

bool IsPlatformProvider(LPCWSTR providerName) {
  return WideToNarrow(providerName).find("Microsoft") != std::string::npos;
}

}  // namespace kv::sign

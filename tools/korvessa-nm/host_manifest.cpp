// The native host manifest the browsers read: the same text on every
// platform, naming the host by its full path.
#include "korvessa-nm/install.h"

#include "kvcommon/json.h"

namespace korvessa {

std::string HostManifest(Browser browser, const std::string& hostPath) {
  std::string out = "{\n  \"name\": ";
  kv::json::AppendQuoted(kHostName, &out);
  out += ",\n  \"description\": \"Korvessa certificate, signing and encryption engine\",\n  \"path\": ";
  kv::json::AppendQuoted(hostPath, &out);
  out += ",\n  \"type\": \"stdio\",\n";
  if (browser == Browser::kChromium)
    out += "  \"allowed_origins\": [\"chrome-extension://" + std::string(kChromiumExtensionId) + "/\"]\n";
  else
    out += "  \"allowed_extensions\": [\"" + std::string(kFirefoxExtensionId) + "\"]\n";
  out += "}\n";
  return out;
}

}  // namespace korvessa

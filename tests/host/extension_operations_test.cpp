// The extension loads from its folder as it is, with no build step, so its
// list of operations (operations.js) is generated and committed: each entry
// must be the table's, in its order, with its parameters.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "engine/operation_params.h"
#include "support/temp_home.h"

namespace {

struct Line {
  std::string name;
  std::vector<std::string> params;
};

#define KV_EXTENSION_PARAM(type, name) #name
#define KV_OPERATION(slot, dispid, result, name, exportName, params, policy) \
  {#name, {KV_PARAM_LIST(KV_EXTENSION_PARAM, params)}},
const std::vector<Line> kTable = {
#include "engine/operation_table.h"
};

TEST(ExtensionOperations, PageObjectOffersEveryOperationWithItsParameters) {
  const std::string source =
      kv::test::ReadFile(std::string(KV_SOURCE_DIR) + "/tools/korvessa-nm/extension/operations.js");
  ASSERT_FALSE(source.empty());
  std::vector<Line> listed;
  const std::regex entry(R"re(\["(\w+)", \[([^\]]*)\]\])re");
  for (auto it = std::sregex_iterator(source.begin(), source.end(), entry); it != std::sregex_iterator(); ++it) {
    Line line{(*it)[1].str(), {}};
    const std::string params = (*it)[2].str();
    const std::regex quoted(R"re("(\w+)")re");
    for (auto p = std::sregex_iterator(params.begin(), params.end(), quoted); p != std::sregex_iterator(); ++p)
      line.params.push_back((*p)[1].str());
    listed.push_back(line);
  }
  ASSERT_EQ(kTable.size(), listed.size());
  for (size_t i = 0; i < kTable.size(); ++i) {
    std::vector<std::string> expected;
    for (const std::string& p : kTable[i].params)
      if (!p.empty()) expected.push_back(p);
    EXPECT_EQ(kTable[i].name, listed[i].name) << i;
    EXPECT_EQ(expected, listed[i].params) << kTable[i].name;
  }
}

}  // namespace

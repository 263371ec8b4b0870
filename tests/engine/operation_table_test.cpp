// The operation table checked against itself and against the built library:
// every door is expanded from it, so a wrong slot, a reused dispatch id or a
// marker that disagrees with the exports would reach every caller at once.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "engine/operation_params.h"
#include "support/library_exports.h"

namespace {

struct TableLine {
  int slot;
  int dispid;
  std::string name;
  std::string exportName;
  int paramCount;
};

#define KV_OPERATION(slot, dispid, result, name, exportName, params, policy) \
  {slot, dispid, #name, #exportName, KV_PARAM_COUNT(params)},
const std::vector<TableLine> kTable = {
#include "engine/operation_table.h"
};

// The areas of the interface, each owning a run of dispatch ids that starts
// on a multiple of ten (the first and the personal store start one after).
struct Group {
  int first;
  int last;
};
constexpr Group kGroups[] = {{1, 8},   {20, 23}, {30, 31}, {40, 45},  {50, 64},
                             {70, 77}, {80, 88}, {90, 93}, {101, 109}};

const Group* GroupOf(int dispid) {
  for (const Group& g : kGroups)
    if (dispid >= g.first && dispid <= g.last) return &g;
  return nullptr;
}

TEST(OperationTable, SlotsDispatchIdsAndNamesAreUnique) {
  ASSERT_FALSE(kTable.empty());
  std::set<int> slots, dispids;
  std::set<std::string> names, exportNames;
  for (const TableLine& op : kTable) {
    EXPECT_TRUE(slots.insert(op.slot).second) << op.name;
    EXPECT_TRUE(dispids.insert(op.dispid).second) << op.name;
    EXPECT_TRUE(names.insert(op.name).second) << op.name;
    EXPECT_TRUE(exportNames.insert(op.exportName).second) << op.exportName;
    EXPECT_LE(op.paramCount, 7) << op.name;
  }
  // A method name may only be another operation's export name if it is
  // its own too; otherwise one lookup by name would find two operations.
  for (const TableLine& op : kTable) {
    if (op.name != op.exportName) {
      EXPECT_EQ(exportNames.count(op.name), 0u) << op.name;
    }
  }
}

TEST(OperationTable, SlotsFollowIDispatchWithoutGaps) {
  // IUnknown and IDispatch take slots 0-6.
  int expected = 7;
  for (const TableLine& op : kTable) EXPECT_EQ(op.slot, expected++) << op.name;
}

TEST(OperationTable, DispatchIdsAreGroupedByTens) {
  std::set<const Group*> started, ended;
  const TableLine* previous = nullptr;
  for (const TableLine& op : kTable) {
    const Group* group = GroupOf(op.dispid);
    ASSERT_NE(group, nullptr) << op.name << " has dispatch id " << op.dispid << " outside every group";
    if (op.dispid == group->first) started.insert(group);
    if (op.dispid == group->last) ended.insert(group);
    if (previous) {
      const Group* previousGroup = GroupOf(previous->dispid);
      if (previousGroup == group) {
        // Within a group the ids run on by one, or on to the next ten.
        bool next = op.dispid == previous->dispid + 1;
        bool nextTen = op.dispid == (previous->dispid / 10 + 1) * 10;
        EXPECT_TRUE(next || nextTen) << previous->name << " " << previous->dispid << " -> " << op.name << " "
                                     << op.dispid;
      } else {
        EXPECT_EQ(op.dispid, group->first) << op.name << " opens its group out of order";
        EXPECT_EQ(previous->dispid, previousGroup->last) << previous->name << " does not close its group";
      }
    }
    previous = &op;
  }
  EXPECT_EQ(started.size(), std::size(kGroups));
  EXPECT_EQ(ended.size(), std::size(kGroups));
}

TEST(OperationTable, EveryOperationIsExported) {
  ASSERT_NE(kv::test::Library(), nullptr) << dlerror();
  for (const TableLine& op : kTable) {
    void* symbol = dlsym(kv::test::Library(), op.exportName.c_str());
    EXPECT_NE(symbol, nullptr) << op.exportName << " is not exported";
    // The method name is never a second way in.
    if (op.name != op.exportName) {
      EXPECT_EQ(dlsym(kv::test::Library(), op.name.c_str()), nullptr) << op.name;
    }
  }
}

}  // namespace

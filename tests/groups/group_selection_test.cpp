#include "groups/group_selection.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(GroupSelection, ChecksAndUnchecksWholeEntries) {
    std::string sel;
    sel = setGroupSelected(sel, "Friends", true);
    sel = setGroupSelected(sel, "Work", true);
    EXPECT_EQ(sel, "Friends;Work;");
    sel = setGroupSelected(sel, "Work", true);
    EXPECT_EQ(sel, "Friends;Work;") << "checking twice lists the group once";
    sel = setGroupSelected(sel, "Friends", false);
    EXPECT_EQ(sel, "Work;");
    EXPECT_TRUE(isGroupSelected(sel, "Work"));
    EXPECT_FALSE(isGroupSelected(sel, "Friends"));
}

TEST(GroupSelection, ANameInsideAnotherIsNotChosen) {
    EXPECT_FALSE(isGroupSelected("Best Friends;", "Friends"));
    EXPECT_EQ(setGroupSelected("Best Friends;", "Friends", false), "Best Friends;");
    EXPECT_EQ(splitGroupSelection("A;B;tail"), (std::vector<std::string>{"A", "B"}));
}

}  // namespace
}  // namespace qm

#include "app/folder_history.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

// Catches Browse duplicating a folder, ignoring case, or mishandling the ten-entry limit, and
// a selection one past the last entry taken.
TEST(FolderHistoryTest, BrowseRules) {
    const struct {
        const char* name;
        int entries;  // "/f0", "/f1", ...
        int selected;
        std::string chosen;
        int expectedCount;
        std::string expectedFirst;
        int expectedSelection;
    } cases[] = {
        {"known folder is selected", 3, 0, "/f2", 3, "/f0", 2},
        {"new folder appended", 3, 0, "/new", 4, "/f0", 3},
        {"letter case makes a new folder", 3, 0, "/F2", 4, "/f0", 3},
        {"full box drops the oldest", 10, 4, "/new", 10, "/f1", 9},
        {"eleventh entry is not looked at", 11, 0, "/f10", 11, "/f1", 10},
        {"first entry of an empty box", 0, -1, "/new", 1, "/new", 0},
    };
    for (const auto& c : cases) {
        FolderHistory h;
        for (int i = 0; i < c.entries; ++i) {
            h.Add("/f" + std::to_string(i));
        }
        h.Select(c.selected);
        h.Browse(c.chosen);
        ASSERT_EQ(static_cast<int>(h.Entries().size()), c.expectedCount) << c.name;
        EXPECT_EQ(h.Entries().front(), c.expectedFirst) << c.name;
        EXPECT_EQ(h.SelectedIndex(), c.expectedSelection) << c.name;
        EXPECT_EQ(h.Text(), c.chosen) << c.name;
    }
    FolderHistory h;
    h.Add("/f0");
    h.Select(1);  // one past the last: nothing selected, nothing read
    EXPECT_EQ(h.SelectedIndex(), -1);
    EXPECT_EQ(h.Text(), "");
}

}  // namespace
}  // namespace orvane

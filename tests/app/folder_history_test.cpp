#include "app/folder_history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace orvane {
namespace {

FolderHistory Filled(int count) {
    FolderHistory h;
    for (int i = 0; i < count; ++i) {
        h.Add("/f" + std::to_string(i));
    }
    return h;
}

// Catches Browse duplicating a known folder, comparing without case, or mishandling the
// ten-entry limit (the oldest must go, the new one must be last and selected).
TEST(FolderHistoryTest, BrowseRules) {
    struct Case {
        const char* name;
        int entries;
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
    for (const Case& c : cases) {
        FolderHistory h = Filled(c.entries);
        h.Select(c.selected);
        h.Browse(c.chosen);
        ASSERT_EQ(static_cast<int>(h.Entries().size()), c.expectedCount) << c.name;
        EXPECT_EQ(h.Entries().front(), c.expectedFirst) << c.name;
        EXPECT_EQ(h.SelectedIndex(), c.expectedSelection) << c.name;
        EXPECT_EQ(h.Text(), c.chosen) << c.name;
    }
}

// Catches the save-time trim dropping more than one entry, keeping a selection on the
// dropped entry, or saving more than ten folders.
TEST(FolderHistoryTest, TrimBeforeSaveDropsOneOldestEntry) {
    struct Case {
        int entries;
        int selected;
        int expectedCount;
        int expectedSelection;
        std::string expectedPathStart;
    } cases[] = {
        {11, 5, 10, 4, "/f1|"},    // eleven: the first goes, the rest move up
        {11, 0, 10, -1, "/f1|"},   // the selected entry was the one dropped
        {12, 11, 11, 10, "/f1|"},  // only one is dropped; ten are saved
        {10, 3, 10, 3, "/f0|"},    // at the limit nothing changes
    };
    for (const Case& c : cases) {
        FolderHistory h = Filled(c.entries);
        h.Select(c.selected);
        h.DropOldestBeyondLimit();
        EXPECT_EQ(static_cast<int>(h.Entries().size()), c.expectedCount) << c.entries;
        EXPECT_EQ(h.SelectedIndex(), c.expectedSelection) << c.entries;
        std::string path = h.PathValue();
        EXPECT_EQ(path.rfind(c.expectedPathStart, 0), 0u) << path;
        EXPECT_EQ(std::count(path.begin(), path.end(), '|'), 9) << path;
    }
}

// Catches a typed folder being saved as selected, or a selection beyond the list kept.
TEST(FolderHistoryTest, TypedTextAndOutOfRangeSelection) {
    FolderHistory h = Filled(3);
    h.Select(1);
    h.SetText("/typed");
    EXPECT_EQ(h.SelectedIndex(), -1);
    EXPECT_EQ(h.Text(), "/typed");
    EXPECT_EQ(h.PathValue(), "/f0|/f1|/f2");
    h.Select(5);
    EXPECT_EQ(h.SelectedIndex(), -1);
    EXPECT_EQ(h.Text(), "");
}

}  // namespace
}  // namespace orvane

#include "support/string_table.h"

#include <cstddef>

#include "support/language.h"
#include "support/text_ids.h"

namespace orvane {

namespace {

struct StringEntry {
    int id;
    const char* chinese;
    const char* english;
};

// In id order, so an id is found by its position.
constexpr StringEntry kStrings[] = {
#define ORVANE_TEXT(name, id, chinese, english) {name, chinese, english},
#include "support/string_table_texts.h"
#undef ORVANE_TEXT
};

constexpr int kFirstId = kTextAbout;
constexpr int kStringCount = static_cast<int>(sizeof kStrings / sizeof kStrings[0]);

constexpr bool IdsInOrder() {
    for (int i = 0; i < kStringCount; ++i) {
        if (kStrings[i].id != kFirstId + i) {
            return false;
        }
    }
    return true;
}
static_assert(IdsInOrder(), "the string table's ids must run on from 101 without a gap");

}  // namespace

const char* LookupStringTable(int language, int id) {
    if (id < kFirstId || id >= kFirstId + kStringCount) {
        return nullptr;
    }
    const StringEntry& e = kStrings[id - kFirstId];
    return language == kLanguageChinese ? e.chinese : e.english;
}

}  // namespace orvane

#include "support/string_table.h"

#include <cstddef>

#include "support/language.h"

namespace orvane {

namespace {

struct StringEntry {
    int id;
    const char* chinese;
    const char* english;
};

// Ids 101..175; both languages hold the same ids.
constexpr StringEntry kStrings[] = {
    {153, "获取本机MAC失败!!!", "Failed to get native MAC!!!"},
    {165, "网络端口绑定失败！", "The network port binding failed!"},
};

}  // namespace

const char* LookupStringTable(int language, int id) {
    for (const StringEntry& e : kStrings) {
        if (e.id == id) {
            return language == kLanguageChinese ? e.chinese : e.english;
        }
    }
    return nullptr;
}

}  // namespace orvane

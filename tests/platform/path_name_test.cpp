#include <gtest/gtest.h>

#include "platform/file.h"

namespace orvane {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Catches a Windows device, stream or altered name that reaches the file system under a
// served folder (where "Config.ini." would open the program's own Config.ini, and CON would
// wait on the console), and a refusal of ordinary names; on Linux every name is a file.
TEST(PathNameTest, WindowsRefusesDevicesStreamsAndAlteredNames) {
    const std::pair<const char*, bool> names[] = {
        {"CON", true},         {"nul.bin", true},       {"sub/Com1.txt", true},
        {"sub\\LPT9", true},   {"NUL .txt", true},      {"conout$", true},
        {"aux/fw.bin", true},  {"fw.bin::$DATA", true}, {"fw.bin:hidden", true},
        {"C:fw.bin", true},    {"Config.ini.", true},   {"fw.bin ", true},
        {"sub./fw.bin", true}, {"fw.bin", false},       {"console.bin", false},
        {"COM10.bin", false},  {"com0", false},         {"a/b/c.bin", false},
        {"sub\\x.bin", false}, {".hidden.bin", false},  {"../x.bin", false},
        {"", false},           {"nulled.bin", false},   {"prn_model.bin", false},
    };
    for (const auto& [name, windows] : names) {
        EXPECT_EQ(platform::IsReservedPathName(name), kWindows && windows) << name;
    }
}

}  // namespace
}  // namespace orvane

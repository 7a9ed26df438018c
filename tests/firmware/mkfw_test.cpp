#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/temp_dir.h"
#include "firmware/fmw_package.h"
#include "firmware/trace_capture.h"
#include "firmware/upgrade_catalogue.h"

namespace orvane {
namespace {

// `base` followed by `count` images of one byte each.
std::vector<std::string> WithImages(std::vector<std::string> base, int count) {
    for (int i = 0; i < count; ++i) {
        base.insert(base.end(), {"--image", "1"});
    }
    return base;
}

int Mkfw(std::vector<std::string> args, std::string* out = nullptr) {
    args.insert(args.begin(), test::BinDir() + "/orvane-mkfw");
    return test::RunCommand(args, out, 20000);
}

// Catches the tool writing files the reader refuses, damaging the wrong thing, or ignoring
// the padding: each kind and option must come out as the catalogue sees it (one damage of the
// header and one of an image stand for the rest: the reader's codes are its own tests').
TEST(MkfwTest, WritesEachKindAndDamage) {
    test::TempDir dir;
    test::TraceCapture trace;
    struct Case {
        std::vector<std::string> args;
        int code;           // create_fmw_header result; -1 for header files
        const char* model;  // catalogue record expected, null for none
        int nvr;
    } cases[] = {
        {{"--version", "X_M100_V1.2.3.4", "--image", "4K", "--image", "100"}, 0, "M100", 0},
        {WithImages({"--version", "X_M_V1"}, 8), 0, "M", 0},
        {{"--version", "X_M_V1", "--mark", "9=extra", "--pad-to", "64K"}, 0, "M", 0},
        {{"--version", "X_A_V1", "--alg", "--image", "10"}, 0, nullptr, 0},
        {{"--version", "X_M_V1", "--fmw-type", "-1"}, 0, "M", 0},
        {{"--version", "X_M_V1", "--corrupt", "magic"}, 9, nullptr, 0},
        {{"--version", "X_M_V1", "--image", "9", "--image", "9", "--corrupt", "img-crc:1"},
         16,
         nullptr,
         0},
        {{"--kind", "ipc", "--version", "Y_C300_V3.0", "--pad-to", "1M"}, -1, "C300", 0},
        {{"--kind", "nvr", "--version", "N200_V2.0.0.7"}, -1, "N200", 1},
        {{"--kind", "nvr", "--version", "N200_V2.0.0.7", "--corrupt", "magic"}, -1, nullptr, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(dir.File("out.bin"));
        ASSERT_EQ(Mkfw(args), 0) << args[1];
        int code = -1;
        if (c.code >= 0) {
            FmwHandlePtr h = create_fmw_header(dir.File("out.bin").c_str(), &code);
            EXPECT_EQ(code, c.code) << args[1] << " " << args[2] << "\n" << trace.Take();
        }
        std::vector<UpgradeFileInfo> catalogue;
        AddUpgradeFileInfo(catalogue, dir.Path() + "/", "out.bin");
        ASSERT_EQ(catalogue.size(), c.model ? 1u : 0u) << args[1] << " " << args[2];
        if (c.model != nullptr) {
            EXPECT_STREQ(catalogue[0].szModel, c.model);
            EXPECT_EQ(catalogue[0].iNvrFirmware, c.nvr);
        }
    }
    EXPECT_EQ(test::ReadWholeFile(dir.File("out.bin")).size(), 692u);
    ASSERT_EQ(Mkfw({"--kind", "ipc", "--version", "Y_C_V1", "--pad-to", "1M", dir.File("pad.bin")}),
              0);
    EXPECT_EQ(test::ReadWholeFile(dir.File("pad.bin")).size(), 1024u * 1024u);
}

}  // namespace
}  // namespace orvane

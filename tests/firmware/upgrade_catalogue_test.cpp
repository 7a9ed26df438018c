#include "firmware/upgrade_catalogue.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/netns.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "firmware/fmw_package.h"
#include "firmware/trace_capture.h"
#include "firmware/upgrade_file_info.h"
#include "platform/folder_list.h"
#include "protocol/orvane_engine.h"
#include "support/log.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

std::string Package(const std::string& version) {
    return fwbuild::BuildPackage(fwbuild::MakePackageSpec(version, {512}));
}

// Catches versions compared as text, missing fields not read as 0, a number overflow
// wrapping, or an empty second version not flagged.
TEST(CompareVersionTest, DottedNumbersCompareAsFourIntegers) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"1.2.10.0", "1.2.3.4", 1},
        {"1.2.3.4", "1.2.10.0", -1},
        {"1.2.3.4", "1.2.3.4", 0},
        {"1.2", "1.2.0.0", 0},
        {"V1.2", "0.0.0.0", 0},
        {"2", "1.9.9.9", 1},
        {"1.2.3.4.9", "1.2.3.4", 0},  // a fifth number is not read
        {"1.2x.7", "1.2.0.0", 0},     // reading stops at the first misfit
        {"1..3", "1.0.0.0", 0},
        {"-1", "0", -1},
        {" 3", "2", 1},  // blanks before a number are skipped, as by %d
        {"99999999999", "2147483647", 0},
        {"-99999999999", "-2147483648", 0},
        {"", "0", 0},
        {"1.2.3.4", "", -2},
        {"", "", -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareVersion(c.a, c.b), c.expected) << '"' << c.a << "\" vs \"" << c.b << '"';
    }
}

// Catches fields split differently from a tokenizer, the wrong field taken per kind, or the
// 63-character cuts missing.
TEST(ParseFirmwareVersionTest, FieldsByKind) {
    const std::string longModel(80, 'M');
    struct Case {
        std::string text;
        int kind;
        std::string model;
        std::string verNum;
    } cases[] = {
        {"X_M100_V1.2.3.4", kFirmwareIpc, "M100", "1.2.3.4"},
        {"N200_V2.0.0.7", kFirmwareNvr, "N200", "2.0.0.7"},
        {"X_M100_V1.2.3.4_extra_more", kFirmwareIpc, "M100", "1.2.3.4"},
        {"N200_V2.0_rc1", kFirmwareNvr, "N200", "2.0"},
        {"__X__M100___V1.2__", kFirmwareIpc, "M100", "1.2"},
        {"X_M100_V", kFirmwareIpc, "M100", ""},
        {"X_M100", kFirmwareIpc, "M100", ""},
        {"X", kFirmwareIpc, "", ""},
        {"", kFirmwareNvr, "", ""},
        {"X_" + longModel + "_V" + std::string(70, '9'), kFirmwareIpc, std::string(63, 'M'),
         std::string(63, '9')},
    };
    for (const Case& c : cases) {
        UpgradeFileInfo r;
        ParseFirmwareVersion(c.text.c_str(), c.kind, &r);
        EXPECT_EQ(std::string(r.szModel), c.model) << c.text;
        EXPECT_EQ(std::string(r.szVerNum), c.verNum) << c.text;
    }
}

class CatalogueTest : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directory(Folder()); }

    std::string Folder() const { return m_dir.File("fw"); }
    void Put(const std::string& name, const std::string& bytes) const {
        m_dir.Write("fw/" + name, bytes);
    }

    test::TempDir m_dir;
    test::TraceCapture m_trace;  // keeps the reader's trace out of the test output
    std::mutex m_lock;
};

// Catches a file kind, model or version read wrongly, an unusable file added, and a file the
// TFTP server refuses (a link out, 2 GiB or more, a name it will not take) offered.
TEST_F(CatalogueTest, EachFileIsProbedByItsHeaderAndName) {
    // "model|version|NVR flag" of the one record added, "" when none is.
    auto probe = [](const std::string& folder, const std::string& name) -> std::string {
        std::vector<UpgradeFileInfo> catalogue;
        AddUpgradeFileInfo(catalogue, folder + "/", name);
        if (catalogue.size() != 1) {
            return catalogue.empty() ? "" : "several";
        }
        const UpgradeFileInfo& r = catalogue[0];
        EXPECT_EQ(std::string(r.szVersion), std::string(r.szModel) + "-" + r.szVerNum);
        EXPECT_EQ(r.szFileName + std::to_string(r.iHighestVersion), name + "1");
        return std::string(r.szModel) + "|" + r.szVerNum + "|" + std::to_string(r.iNvrFirmware);
    };
    auto noVersion = fwbuild::MakePackageSpec("X_M_V1", {16});
    noVersion.vecMarks[0].tag = 5;
    auto alg = fwbuild::MakePackageSpec("X_ALG_V1", {16});
    alg.szMagic = "QVRALG22";
    alg.iFmwType = 8;
    auto badCrc = fwbuild::MakePackageSpec("X_M_V1", {16});
    badCrc.damage = fwbuild::Damage::kImageCrc;
    const std::string nvr = fwbuild::BuildNvrHeaderFile("N200_V2.0.0.7", 0, false);
    struct Case {
        std::string name, bytes;
        std::string record = "";  // "model|version|NVR flag"; none
    } cases[] = {
        {"package.bin", Package("X_M100_V1.2.3.4"), "M100|1.2.3.4|0"},
        {"ipc.bin", fwbuild::BuildIpcHeaderFile("Y_C300_V3.1.0.0", 4096, false), "C300|3.1.0.0|0"},
        {"nvr.bin", nvr, "N200|2.0.0.7|1"},
        {"alg.bin", fwbuild::BuildPackage(alg)},
        {"bad.bin", fwbuild::BuildPackage(badCrc)},
        {"noversion.bin", fwbuild::BuildPackage(noVersion)},
        {"short.bin", fwbuild::BuildIpcHeaderFile("Y_C_V1", 0, false).substr(0, 1555)},
        {"shortnvr.bin", nvr.substr(0, 691)},
        {"tiny.bin", "FIRMW"},
        {"text.bin", "hello world, not firmware"},
        // Only 255 characters of the text are taken (the version field lies beyond), the model
        // then cut to 63.
        {"long.bin", fwbuild::BuildIpcHeaderFile("Y_" + std::string(300, 'C') + "_V1", 0, false),
         std::string(63, 'C') + "||0"},
        {"A.BIN", nvr},
        {"A.bin.txt", nvr},
        {"bin", nvr},
        {"50%.bin", nvr},
        {"v1..2.bin", nvr},
        {"a\\b.bin", nvr},
    };
    for (const Case& c : cases) {
        Put(c.name, c.bytes);
        EXPECT_EQ(probe(Folder(), c.name), c.record) << c.name;
    }

    Put("huge.bin", fwbuild::BuildIpcHeaderFile("Y_HUGE_V1.0", 0, false));
    ASSERT_EQ(::truncate((Folder() + "/huge.bin").c_str(), int64_t{3} << 30), 0);  // sparse
    test::TempDir outside;
    outside.Write("out.bin", nvr);
    ASSERT_EQ(::symlink(outside.File("out.bin").c_str(), (Folder() + "/link.bin").c_str()), 0);
    ASSERT_EQ(::symlink((Folder() + "/nvr.bin").c_str(), (Folder() + "/alias.bin").c_str()), 0);
    std::string deep = Folder();  // a path of more than 255 bytes
    while (deep.size() < 250) {
        deep += "/dddddddddddddddddddd";
    }
    std::filesystem::create_directories(deep);
    std::ofstream(deep + "/long_name.bin", std::ios::binary) << nvr;
    EXPECT_EQ(probe(Folder(), "huge.bin"), "");
    EXPECT_EQ(probe(Folder(), "link.bin"), "");
    EXPECT_EQ(probe(Folder(), "alias.bin"), "N200|2.0.0.7|1");
    EXPECT_EQ(probe(deep, "long_name.bin"), "");
}

// Catches a rebuild that keeps older versions, reorders the files against the folder listing
// or probes directories (which files outrank which is tested on EraseLowerVersionFiles), and a
// missing folder that keeps the old catalogue.
TEST_F(CatalogueTest, RebuildKeepsNewestOfEachModelInListingOrder) {
    Put("old.bin", Package("X_M100_V1.2.3.4"));
    Put("new.bin", Package("X_M100_V1.2.10.0"));
    Put("ipc.bin", fwbuild::BuildIpcHeaderFile("Y_T_V5.0.0.0", 0, false));
    Put("nvr.bin", fwbuild::BuildNvrHeaderFile("R_V1.0", 0, false));
    std::filesystem::create_directory(Folder() + "/x.bin");

    std::vector<UpgradeFileInfo> catalogue;
    SaveUpgradeFileInfo(catalogue, m_lock, Folder());
    std::vector<platform::FolderEntry> listing;
    ASSERT_TRUE(platform::ListFolder(Folder(), &listing));
    std::vector<std::string> expected, got;
    for (const auto& e : listing) {
        if (e.szName != "old.bin" && e.szName.size() > 4 && !e.bDirectory) {
            expected.push_back(e.szName);
        }
    }
    for (const auto& r : catalogue) {
        got.push_back(r.szFileName);
    }
    EXPECT_EQ(got, expected);
    SaveUpgradeFileInfo(catalogue, m_lock, m_dir.File("absent"));
    EXPECT_TRUE(catalogue.empty());
}

// Catches a rebuild or a package read that blocks on a ".bin" name that is a pipe (opening one
// without a writer waits for it) while holding the catalogue lock; a hang fails by time-out.
TEST_F(CatalogueTest, PipeNamedLikeFirmwareIsSkippedWithoutBlocking) {
    Put("good.bin", Package("X_M_V1"));
    const std::string pipe = Folder() + "/pipe.bin";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::vector<UpgradeFileInfo> catalogue;
    SaveUpgradeFileInfo(catalogue, m_lock, Folder());
    ASSERT_EQ(catalogue.size(), 1u);
    EXPECT_STREQ(catalogue[0].szFileName, "good.bin");
    int error = 0;
    EXPECT_FALSE(create_fmw_header(pipe.c_str(), &error));
    EXPECT_EQ(error, kFmwOpenFailed);
}

// Catches a catalogue that is not built at Start, that does not follow files added to and
// removed from the folder while the service runs, or that Stop empties.
TEST_F(CatalogueTest, EngineFollowsTheFolderWhileRunning) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::RecordingView view;
    OrvaneEngine engine{view};
    InitLog(kLogInfo, m_dir.File("Upgrade.log").c_str());
    view.SetUpgradeFolder(Folder());
    auto files = [&engine] {
        std::string names;
        for (const auto& r : engine.Catalogue().Copy()) {
            names += r.szFileName;
        }
        return names;
    };
    Put("m100.bin", Package("X_M100_V1.0.0.0"));
    ASSERT_TRUE(engine.StartService(ServiceConfig{"127.0.0.1", "", Folder()}));
    EXPECT_EQ(engine.Catalogue().Rebuilds(), 1u);
    EXPECT_EQ(files(), "m100.bin");
    // One change of both kinds: a single paced rescan (3 s apart at the least) sees it all.
    Put("n200.bin", Package("X_N200_V2.0.0.0"));
    std::filesystem::remove(Folder() + "/m100.bin");
    EXPECT_TRUE(engine.Catalogue().WaitRebuilds(2, 15000));
    engine.StopService();
    EXPECT_EQ(files(), "n200.bin");
    InitLog(kLogMajor, "");
}

}  // namespace
}  // namespace orvane

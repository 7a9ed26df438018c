#include "firmware/upgrade_catalogue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <tuple>
#include <vector>

#include "common/temp_dir.h"
#include "firmware/fmw_package.h"
#include "firmware/trace_capture.h"
#include "platform/folder_list.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

std::string Package(const std::string& version) {
    return fwbuild::BuildPackage(fwbuild::MakePackageSpec(version, {512}));
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
    auto noVersion = fwbuild::MakePackageSpec("X_M_V1", {16});
    noVersion.vecMarks[0].tag = 5;
    auto alg = fwbuild::MakePackageSpec("X_ALG_V1", {16});
    alg.szMagic = "QVRALG22";
    alg.iFmwType = 8;
    auto badCrc = fwbuild::MakePackageSpec("X_M_V1", {16});
    badCrc.damage = fwbuild::Damage::kImageCrc;
    const std::string longModel(63, 'C');
    const std::string nvr = fwbuild::BuildNvrHeaderFile("N200_V2.0.0.7", 0, false);
    struct Case {
        std::string name;
        std::string bytes;
        const char* model;  // null: no record
        const char* verNum;
        int nvr;
    } cases[] = {
        {"package.bin", Package("X_M100_V1.2.3.4"), "M100", "1.2.3.4", 0},
        {"ipc.bin", fwbuild::BuildIpcHeaderFile("Y_C300_V3.1.0.0", 4096, false), "C300", "3.1.0.0",
         0},
        {"nvr.bin", nvr, "N200", "2.0.0.7", 1},
        {"alg.bin", fwbuild::BuildPackage(alg), nullptr, nullptr, 0},
        {"bad.bin", fwbuild::BuildPackage(badCrc), nullptr, nullptr, 0},
        {"noversion.bin", fwbuild::BuildPackage(noVersion), nullptr, nullptr, 0},
        {"short.bin", fwbuild::BuildIpcHeaderFile("Y_C_V1", 0, false).substr(0, 1555), nullptr,
         nullptr, 0},
        {"shortnvr.bin", nvr.substr(0, 691), nullptr, nullptr, 0},
        {"tiny.bin", "FIRMW", nullptr, nullptr, 0},
        {"text.bin", "hello world, not firmware", nullptr, nullptr, 0},
        // Only 255 characters of the text are taken (the version field lies beyond), the model
        // then cut to 63.
        {"long.bin", fwbuild::BuildIpcHeaderFile("Y_" + std::string(300, 'C') + "_V1", 0, false),
         longModel.c_str(), "", 0},
        {"A.BIN", nvr, nullptr, nullptr, 0},
        {"A.bin.txt", nvr, nullptr, nullptr, 0},
        {"bin", nvr, nullptr, nullptr, 0},
        {"50%.bin", nvr, nullptr, nullptr, 0},
        {"v1..2.bin", nvr, nullptr, nullptr, 0},
        {"a\\b.bin", nvr, nullptr, nullptr, 0},
    };
    for (const Case& c : cases) {
        Put(c.name, c.bytes);
        std::vector<UpgradeFileInfo> catalogue;
        AddUpgradeFileInfo(catalogue, Folder() + "/", c.name.c_str());
        if (c.model == nullptr) {
            EXPECT_TRUE(catalogue.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(catalogue.size(), 1u) << c.name;
        const UpgradeFileInfo& r = catalogue[0];
        EXPECT_EQ(std::string(r.szVersion), std::string(c.model) + "-" + c.verNum) << c.name;
        EXPECT_EQ(std::string(r.szFileName) + r.szModel + r.szVerNum, c.name + c.model + c.verNum);
        EXPECT_EQ(r.iHighestVersion, 1) << c.name;
        EXPECT_EQ(r.iNvrFirmware, c.nvr) << c.name;
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
    for (const auto& [folder, name, added] : {std::tuple{Folder(), "huge.bin", false},
                                              {Folder(), "link.bin", false},
                                              {Folder(), "alias.bin", true},
                                              {deep, "long_name.bin", false}}) {
        std::vector<UpgradeFileInfo> catalogue;
        AddUpgradeFileInfo(catalogue, folder + "/", name);
        EXPECT_EQ(catalogue.size(), added ? 1u : 0u) << name;
    }
}

// Catches a rebuild that keeps older versions or reorders the files against the folder listing,
// or probes directories and dots (which files outrank which is tested on EraseLowerVersionFiles).
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
    std::vector<std::string> expected;
    for (const auto& e : listing) {
        if (e.szName != "old.bin" && e.szName.size() > 4 && !e.bDirectory) {
            expected.push_back(e.szName);
        }
    }
    std::vector<std::string> got;
    for (const auto& r : catalogue) {
        got.push_back(r.szFileName);
    }
    EXPECT_EQ(got, expected);
}

// Catches a missing folder that keeps the old catalogue or crashes the rebuild.
TEST_F(CatalogueTest, UnlistableFolderEmptiesTheCatalogue) {
    Put("a.bin", Package("X_M_V1"));
    std::vector<UpgradeFileInfo> catalogue;
    SaveUpgradeFileInfo(catalogue, m_lock, Folder() + "/");
    ASSERT_EQ(catalogue.size(), 1u);
    SaveUpgradeFileInfo(catalogue, m_lock, m_dir.File("absent"));
    EXPECT_TRUE(catalogue.empty());
}

// Catches a rebuild that blocks for ever on a ".bin" name that is a pipe (opening a pipe
// without writer waits for one) or a package path that is one, holding the catalogue lock.
TEST_F(CatalogueTest, PipeNamedLikeFirmwareIsSkippedWithoutBlocking) {
    Put("good.bin", Package("X_M_V1"));
    const std::string pipe = Folder() + "/pipe.bin";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Each step must end within 5 s; else a writer completes the blocked open so the test ends.
    auto endsInTime = [&pipe](std::future<bool>& step) {
        const bool ended = step.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!ended) {
            int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ::close(fd);
            }
        }
        step.wait();
        return ended;
    };
    std::vector<UpgradeFileInfo> catalogue;
    auto rebuild = std::async(std::launch::async, [&] {
        SaveUpgradeFileInfo(catalogue, m_lock, Folder());
        return true;
    });
    ASSERT_TRUE(endsInTime(rebuild));
    ASSERT_EQ(catalogue.size(), 1u);
    EXPECT_STREQ(catalogue[0].szFileName, "good.bin");

    int error = 0;
    auto opened = std::async(std::launch::async,
                             [&] { return create_fmw_header(pipe.c_str(), &error) != nullptr; });
    ASSERT_TRUE(endsInTime(opened));
    EXPECT_FALSE(opened.get());
    EXPECT_EQ(error, kFmwOpenFailed);
}

}  // namespace
}  // namespace orvane

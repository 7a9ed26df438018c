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
#include <vector>

#include "common/temp_dir.h"
#include "firmware/fmw_package.h"
#include "firmware/trace_capture.h"
#include "platform/folder_list.h"
#include "support/log.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

using test::Contains;

std::string Package(const std::string& version) {
    return fwbuild::BuildPackage(fwbuild::MakePackageSpec(version, {512}));
}

class CatalogueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(Folder());
        InitLog(kLogInfo, m_dir.File("Upgrade.log").c_str());
    }
    void TearDown() override { InitLog(kLogMajor, ""); }

    std::string Folder() const { return m_dir.File("fw"); }
    void Put(const std::string& name, const std::string& bytes) const {
        m_dir.Write("fw/" + name, bytes);
    }
    // The log written since the last call.
    std::string TakeLog() {
        std::string all = test::ReadWholeFile(m_dir.File("Upgrade.log"));
        std::string fresh = all.substr(std::min(m_uLogRead, all.size()));
        m_uLogRead = all.size();
        return fresh;
    }

    test::TempDir m_dir;
    test::TraceCapture m_trace;  // keeps the reader's trace out of the test output
    std::mutex m_lock;
    size_t m_uLogRead = 0;
};

// Catches a file kind read wrongly (model, version, NVR flag), a version text taken beyond 255
// characters, or an unusable file added: each probe must end in its record or its log line.
TEST_F(CatalogueTest, EachFileKindIsProbedByItsHeader) {
    auto noVersion = fwbuild::MakePackageSpec("X_M_V1", {16});
    noVersion.vecMarks[0].tag = 5;
    auto alg = fwbuild::MakePackageSpec("X_ALG_V1", {16});
    alg.szMagic = "QVRALG22";
    alg.iFmwType = 8;
    auto badCrc = fwbuild::MakePackageSpec("X_M_V1", {16});
    badCrc.damage = fwbuild::Damage::kImageCrc;
    const std::string longModel(63, 'C');
    struct Case {
        const char* name;
        std::string bytes;
        const char* model;  // null: no record
        const char* verNum;
        int nvr;
        const char* log;
    } cases[] = {
        {"package", Package("X_M100_V1.2.3.4"), "M100", "1.2.3.4", 0,
         "fileInfo.szVersion=M100-1.2.3.4\r\n fileInfo.iHighestVersion=1\r\n"},
        {"ipc header", fwbuild::BuildIpcHeaderFile("Y_C300_V3.1.0.0", 4096, false), "C300",
         "3.1.0.0", 0, "#QMDebug comfirm header is IPC dev------"},
        {"nvr header", fwbuild::BuildNvrHeaderFile("N200_V2.0.0.7", 0, false), "N200", "2.0.0.7", 1,
         "#QMDebug comfirm header is NVR dev------"},
        {"alg package", fwbuild::BuildPackage(alg), nullptr, nullptr, 0,
         "#QMDebug comfirm header is not IPC or NVR dev, continue"},
        {"bad package", fwbuild::BuildPackage(badCrc), nullptr, nullptr, 0,
         "#QMDebug ipc new firmware, create_fmw_header return NULL, continue"},
        {"no version mark", fwbuild::BuildPackage(noVersion), nullptr, nullptr, 0,
         "#QMDebug ipc new firmware, get_fmw_va_inform(FMW_VA_TAG_FS_VER) return NULL, "
         "continue"},
        {"short ipc header", fwbuild::BuildIpcHeaderFile("Y_C_V1", 0, false).substr(0, 1555),
         nullptr, nullptr, 0, "#QMDebug IPC dev, read FirmWareHeader failed, continue"},
        {"short nvr header", fwbuild::BuildNvrHeaderFile("N_V1", 0, false).substr(0, 691), nullptr,
         nullptr, 0, "#QMDebug NVR dev, read FirmWareNVRHeader failed, continue"},
        {"text file", std::string("hello world, not firmware"), nullptr, nullptr, 0,
         "#QMDebug comfirm header is not IPC or NVR dev, continue"},
        // Only 255 characters of the text are taken (the version field lies beyond), the model
        // then cut to 63.
        {"version text of 300",
         fwbuild::BuildIpcHeaderFile("Y_" + std::string(300, 'C') + "_V1", 0, false),
         longModel.c_str(), "", 0, "#QMDebug comfirm header is IPC dev------"},
    };
    for (const Case& c : cases) {
        Put("f.bin", c.bytes);
        std::vector<UpgradeFileInfo> catalogue;
        TakeLog();
        AddUpgradeFileInfo(catalogue, Folder() + "/", "f.bin");
        const std::string log = TakeLog();
        EXPECT_TRUE(Contains(log, c.log)) << c.name << ":\n" << log;
        if (c.model == nullptr) {
            EXPECT_TRUE(catalogue.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(catalogue.size(), 1u) << c.name;
        const UpgradeFileInfo& r = catalogue[0];
        EXPECT_STREQ(r.szModel, c.model) << c.name;
        EXPECT_STREQ(r.szVerNum, c.verNum) << c.name;
        EXPECT_EQ(std::string(r.szVersion), std::string(c.model) + "-" + c.verNum) << c.name;
        EXPECT_STREQ(r.szFileName, "f.bin") << c.name;
        EXPECT_EQ(r.iHighestVersion, 1) << c.name;
        EXPECT_EQ(r.iNvrFirmware, c.nvr) << c.name;
    }
}

// Catches names matched without case or by containment, files too short to probe logged or
// added, over-long paths cut into the name of another file, and files the TFTP server refuses
// offered: one reached through a link out of the folder, one of 2 GiB or more (whose CRC
// pass would also hold up the rebuild), or one whose name the server will not take.
TEST_F(CatalogueTest, NamesAndFilesThatAreLeftOut) {
    const std::string good = fwbuild::BuildNvrHeaderFile("IN_V1.0", 0, false);
    for (const char* name :
         {"A.BIN", "A.bin.txt", "bin", "in.bin", "50%.bin", "v1..2.bin", "a\\b.bin"}) {
        Put(name, good);
    }
    Put("tiny.bin", "FIRMW");
    Put("huge.bin", fwbuild::BuildIpcHeaderFile("Y_HUGE_V1.0", 0, false));
    ASSERT_EQ(::truncate((Folder() + "/huge.bin").c_str(), int64_t{3} << 30), 0);  // sparse
    test::TempDir outside;
    outside.Write("out.bin", good);
    ASSERT_EQ(::symlink(outside.File("out.bin").c_str(), (Folder() + "/link.bin").c_str()), 0);
    ASSERT_EQ(::symlink((Folder() + "/in.bin").c_str(), (Folder() + "/alias.bin").c_str()), 0);
    std::string deep = Folder();  // a path of more than 255 bytes
    while (deep.size() < 250) {
        deep += "/dddddddddddddddddddd";
    }
    std::filesystem::create_directories(deep);
    std::ofstream(deep + "/long_name.bin", std::ios::binary) << good;
    struct Case {
        std::string folder;
        const char* name;
        bool added;
        std::string log;  // "-": no log line at all
    } cases[] = {
        {Folder(), "A.BIN", false, "#QMDebug find .bin failed"},
        {Folder(), "A.bin.txt", false, "#QMDebug find .bin failed"},
        {Folder(), "bin", false, "#QMDebug find .bin failed"},
        {Folder(), "missing.bin", false, "#QMDebug open file failed, szFilePath="},
        {Folder(), "tiny.bin", false, "-"},
        {deep, "long_name.bin", false, "#QMDebug open file failed, szFilePath=" + deep},
        {Folder(), "in.bin", true, ""},
        {Folder(), "alias.bin", true, ""},
        {Folder(), "link.bin", false, ""},
        {Folder(), "huge.bin", false, ""},
        {Folder(), "50%.bin", false, "#QMDebug name the TFTP server refuses"},
        {Folder(), "v1..2.bin", false, "#QMDebug name the TFTP server refuses"},
        {Folder(), "a\\b.bin", false, "#QMDebug name the TFTP server refuses"},
    };
    for (const Case& c : cases) {
        std::vector<UpgradeFileInfo> catalogue;
        TakeLog();
        AddUpgradeFileInfo(catalogue, c.folder + "/", c.name);
        const std::string log = TakeLog();
        EXPECT_EQ(catalogue.size(), c.added ? 1u : 0u) << c.name;
        if (c.log == "-") {
            EXPECT_EQ(log, "") << c.name;
        } else {
            EXPECT_TRUE(Contains(log, c.log)) << c.name << ":\n" << log;
        }
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
    const std::string log = TakeLog();

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
    EXPECT_TRUE(Contains(log, "#QMDebug tempFind.IsDirectory() continue"));
    EXPECT_TRUE(
        Contains(log,
                 "#QMDebug m_vecUpgradeFileInfo.erase(itor),\r\n fileInfo.szVersion="
                 "M100-1.2.3.4\r\n fileInfo.iHighestVersion=0\r\n fileInfo.szModel=M100\r\n "
                 "fileInfo.szVerNum=1.2.3.4\r\n fileInfo.szFileName=old.bin\r\n"));
}

// Catches a missing folder that keeps the old catalogue or crashes the rebuild.
TEST_F(CatalogueTest, UnlistableFolderEmptiesTheCatalogue) {
    Put("a.bin", Package("X_M_V1"));
    std::vector<UpgradeFileInfo> catalogue;
    SaveUpgradeFileInfo(catalogue, m_lock, Folder() + "/");
    ASSERT_EQ(catalogue.size(), 1u);
    TakeLog();
    SaveUpgradeFileInfo(catalogue, m_lock, m_dir.File("absent"));
    EXPECT_TRUE(catalogue.empty());
    EXPECT_TRUE(Contains(TakeLog(), "strFolderName=" + m_dir.File("absent") + "/, bFound=0"));
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
    EXPECT_TRUE(Contains(TakeLog(), "#QMDebug open file failed, szFilePath=" + pipe));

    int error = 0;
    auto opened = std::async(std::launch::async,
                             [&] { return create_fmw_header(pipe.c_str(), &error) != nullptr; });
    ASSERT_TRUE(endsInTime(opened));
    EXPECT_FALSE(opened.get());
    EXPECT_EQ(error, kFmwOpenFailed);
}

}  // namespace
}  // namespace orvane

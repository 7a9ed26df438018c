#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/netns.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "firmware/fmw_trace.h"
#include "protocol/orvane_engine.h"
#include "support/log.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

// Two rescans are 3 s apart at the least; leave room for a loaded machine.
constexpr int kRescanWaitMs = 15000;

std::vector<std::string> Files(const std::vector<UpgradeFileInfo>& catalogue) {
    std::vector<std::string> names;
    for (const auto& r : catalogue) {
        names.push_back(r.szFileName);
    }
    return names;
}

class CatalogueEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        SetFmwTraceOutput(nullptr);
        InitLog(kLogInfo, m_dir.File("Upgrade.log").c_str());
        std::filesystem::create_directory(Folder());
        m_view.SetUpgradeFolder(Folder());
    }
    void TearDown() override {
        m_engine.StopService();
        InitLog(kLogMajor, "");
        SetFmwTraceOutput(stdout);
    }
    std::string Folder() const { return m_dir.File("fw"); }
    void Put(const std::string& name, const std::string& version) const {
        m_dir.Write("fw/" + name, fwbuild::BuildPackage(fwbuild::MakePackageSpec(version, {64})));
    }

    test::TempDir m_dir;
    test::RecordingView m_view;
    OrvaneEngine m_engine{m_view};
};

// Catches a catalogue that is not built at Start, that does not follow files added to and
// removed from the folder while the service runs, or that Stop empties.
TEST_F(CatalogueEngineTest, FollowsTheFolderWhileRunning) {
    Put("m100.bin", "X_M100_V1.0.0.0");
    ASSERT_TRUE(m_engine.StartService(ServiceConfig{"127.0.0.1", "", Folder()}));
    EXPECT_EQ(m_engine.CatalogueRebuilds(), 1u);
    EXPECT_EQ(Files(m_engine.GetUpgradeFileInfo()), (std::vector<std::string>{"m100.bin"}));

    // One change of both kinds: a single paced rescan sees it all.
    Put("n200.bin", "X_N200_V2.0.0.0");
    std::filesystem::remove(Folder() + "/m100.bin");
    ASSERT_TRUE(m_engine.WaitCatalogueRebuilds(2, kRescanWaitMs));
    m_engine.StopService();
    EXPECT_EQ(Files(m_engine.GetUpgradeFileInfo()), (std::vector<std::string>{"n200.bin"}));
}

}  // namespace
}  // namespace orvane

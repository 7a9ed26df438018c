#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e/road_fixture.h"

namespace orvane {
namespace {

constexpr int kRoadMs = 60000;  // bound of one simulator run

class TrustedRoadTest : public test::RoadTest {
  protected:
    // Signs fw/SHA256SUMS with `key`.pem into fw/SHA256SUMS.sig.
    void Sign(const std::string& key) {
        const std::string command = "cd '" + m_dir.Path() + "' && openssl dgst -sha256 -sign " +
                                    key + ".pem -out fw/SHA256SUMS.sig fw/SHA256SUMS";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    bool StartTrusted(test::ChildProcess& orvane) {
        m_dir.Write("Config.ini", "[CNFINFO]\r\nAppLanguage=2\r\n");
        return orvane.Start(
            {m_dir.File("orvane"), "--headless", "--ip", kServer, "--folder", m_dir.File("fw"),
             "--no-ip-check", "--no-force", "--no-show-all", "--trust", m_dir.File("key.pub")},
            m_dir.Path(), m_dir.File("stderr.txt"));
    }
    int Device(const std::string& model, const std::string& mac, bool expectFirmware) {
        std::string out;
        std::vector<std::string> args = {"--model", model, "--version", "1.0.0.0", "--mac", mac};
        if (expectFirmware) {
            args.insert(args.end(), {"--compare", m_dir.File("fw/" + model + ".bin")});
        } else {
            args.push_back("--expect-no-firmware");
        }
        const int status = Devsim(args, &out, kRoadMs);
        EXPECT_EQ(status, 0) << model << ": " << out;
        return status;
    }
};

// Catches firmware offered that the signed list does not vouch for, a list signed by another
// key taken, or a file swapped after Start served as the vouched one.
TEST_F(TrustedRoadTest, OnlyListedFirmwareReachesDevices) {
    MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", "64K"}, "M100.bin");
    MakeFirmware({"--version", "X_M200_V2.0.0.0", "--image", "64K"}, "M200.bin");
    MakeFirmware({"--version", "X_M300_V2.0.0.0", "--image", "64K"}, "M300.bin");
    const std::string keys =
        "cd '" + m_dir.Path() +
        "' && for k in key other; do openssl ecparam -name prime256v1 -genkey -noout -out "
        "$k.pem && openssl pkey -in $k.pem -pubout -out $k.pub; done && cd fw && sha256sum "
        "M100.bin M200.bin > SHA256SUMS";
    ASSERT_EQ(std::system(keys.c_str()), 0);

    ASSERT_NO_FATAL_FAILURE(Sign("other"));
    test::ChildProcess refused;
    ASSERT_TRUE(StartTrusted(refused));
    EXPECT_EQ(refused.Wait(kWaitMs), 1);
    EXPECT_NE(test::ReadWholeFile(m_dir.File("stderr.txt"))
                  .find("The signed list failed its check, so the upgrade does not start"),
              std::string::npos);

    ASSERT_NO_FATAL_FAILURE(Sign("key"));
    ASSERT_TRUE(StartTrusted(m_orvane));
    std::string line;
    ASSERT_TRUE(m_orvane.ReadLine(&line, kWaitMs));
    ASSERT_EQ(line.rfind("ready\t", 0), 0u) << line;
    Device("M100", "02:00:00:00:01:00", true);
    Device("M200", "02:00:00:00:02:00", true);
    Device("M300", "02:00:00:00:03:00", false);
    test::TableLines table;
    ASSERT_TRUE(table.ReadUntil(m_orvane, 2, 0, kWaitMs));

    // Swapped in place after Start: a device told to fetch M100.bin meanwhile gets an ERROR.
    const std::string swap = "cd '" + m_dir.Path() + "/fw' && cp M300.bin new && mv new M100.bin";
    ASSERT_EQ(std::system(swap.c_str()), 0);
    std::string out;
    EXPECT_NE(Devsim({"--devices", "1", "--fetch", "M100.bin"}, &out, kRoadMs), 0) << out;
    EXPECT_EQ(StopOrvane(&table), 0);
    EXPECT_EQ(table.successes, 2);
    const std::string log = test::ReadWholeFile(m_dir.File("Upgrade.log"));
    EXPECT_NE(log.find("Firmware M300.bin (SHA-256 "), std::string::npos);
    EXPECT_NE(log.find("refused: not in the signed list"), std::string::npos);
    EXPECT_NE(log.find("Error EACCESS on file M100.bin: not the file the signed list vouched for"),
              std::string::npos);
}

}  // namespace
}  // namespace orvane

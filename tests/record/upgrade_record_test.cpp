#include "record/upgrade_record.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "common/log_wait.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "common/wait_until.h"
#include "protocol/device_table.h"
#include "record/device_list_csv.h"
#include "record/record_text.h"
#include "support/log.h"

namespace orvane {
namespace {

IpcInfo Device(const std::string& mac) {
    IpcInfo d;
    d.nIndex = 0;
    d.szMac = mac;
    d.szModel = "C300";
    d.szIpAddr = "127.0.0.10";
    return d;
}

// Catches the list's CSV giving a row still under way another row's outcome (or none), or
// missing a row: a counted row has its outcome, the rest are "incomplete".
TEST(DeviceListCsvTest, RowsTakeTheirOwnOutcome) {
    test::TempDir dir;
    test::RecordingView view;
    DeviceTable table(view);
    UpgradeRecord record;
    table.AddObserver(&record);
    IpcInfo under = Device("aa");
    under.szState = "1";
    table.UpdateDeviceTable(under);
    IpcInfo failed = Device("bb");
    failed.szState = "6";
    table.UpdateDeviceTable(failed);  // a row
    table.UpdateDeviceTable(failed);  // its failure counted
    ASSERT_TRUE(SaveDeviceListCsv(dir.File("list.csv"), table, record));
    const std::string text = test::ReadWholeFile(dir.File("list.csv"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
    const size_t aa = text.find(",aa,");
    const size_t bb = text.find(",bb,");
    ASSERT_TRUE(aa != std::string::npos && bb != std::string::npos) << text;
    EXPECT_NE(text.find("incomplete", aa), std::string::npos) << text;
    EXPECT_LT(text.find("incomplete", aa), bb) << text;
    EXPECT_NE(text.find("failure", bb), std::string::npos) << text;
    table.RemoveObserver(&record);
}

// Catches the record written through a link into another file, and Start held by a pipe that
// nobody reads (the open would wait for a reader for ever).
TEST(UpgradeRecordTest, LinkAndPipeAreRefusedWithoutWaiting) {
    test::TempDir dir;
    dir.Write("other.txt", "someone else's\n");
    ASSERT_EQ(symlink(dir.File("other.txt").c_str(), dir.File("link.csv").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.File("pipe.csv").c_str(), 0644), 0);
    for (const char* name : {"link.csv", "pipe.csv"}) {
        UpgradeRecord record;
        EXPECT_FALSE(record.BeginRun(dir.File(name), 0)) << name;
        EXPECT_TRUE(record.WriteFailing()) << name;
        record.OnDeviceOutcome(Device("aa"), true);
        EXPECT_TRUE(record.WaitWritten(5000));
    }
    EXPECT_EQ(test::ReadWholeFile(dir.File("other.txt")), "someone else's\n");
}

// Catches a line torn by a full disk (part of it left for the next one to join), an outcome
// lost meanwhile, and the failure logged per line or not shown.
TEST(UpgradeRecordTest, FullDiskLeavesNoPartOfALineAndWritesItWhenRoomReturns) {
    test::TempDir disk;
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", disk.Path().c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "needs a mount namespace of its own (run as root)";
    }
    test::TempDir logDir;
    InitLog(kLogMajor, logDir.File("Upgrade.log").c_str());
    // The record ends 10 bytes before its page does: the next line needs a page the full
    // file system no longer has, and the system writes those 10 bytes of it.
    const std::string header = std::string(kRecordHeader) + "\r\n";
    const std::string before = header + std::string(4096 - 10 - header.size() - 2, 'x') + "\r\n";
    disk.Write("upgrades.csv", before);
    {
        const int fd = open(disk.File("filler").c_str(), O_WRONLY | O_CREAT, 0644);
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        close(fd);
    }
    UpgradeRecord record;
    ASSERT_TRUE(record.BeginRun(disk.File("upgrades.csv"), 0));
    record.OnDeviceOutcome(Device("aa"), true);
    record.OnDeviceOutcome(Device("bb"), false);
    ASSERT_TRUE(record.WaitWritten(5000));
    EXPECT_TRUE(record.WriteFailing());
    EXPECT_GE(record.WriteErrors(), 1u);
    EXPECT_EQ(test::ReadWholeFile(disk.File("upgrades.csv")), before);

    ASSERT_EQ(unlink(disk.File("filler").c_str()), 0);
    EXPECT_TRUE(test::WaitUntil([&] { return !record.WriteFailing(); }, 5000));
    const std::string after = test::ReadWholeFile(disk.File("upgrades.csv"));
    ASSERT_EQ(after.compare(0, before.size(), before), 0);
    const std::string added = after.substr(before.size());
    EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 2) << added;
    EXPECT_LT(added.find(",aa,"), added.find(",bb,")) << added;
    const std::string log = test::ReadWholeFile(logDir.File("Upgrade.log"));
    EXPECT_EQ(test::CountOf(log, "cannot write"), 1u) << log;
    InitLog(kLogMajor, "");
    umount(disk.Path().c_str());
}

}  // namespace
}  // namespace orvane

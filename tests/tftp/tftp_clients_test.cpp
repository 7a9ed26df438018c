#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "common/child_process.h"
#include "tftp/tftp_fixture.h"

namespace orvane::test {
namespace {

// Catches any block-boundary, option or last-block fault that corrupts or cuts a download
// with a real client: with either client's options, with none, with a block size of its own,
// in windows (RFC 7440) both ways.
TEST_F(TftpServiceTest, RealClientsDownloadByteIdenticalFiles) {
    // Shell commands: $1 the remote name, $2 the local file.
    const char* clients[] = {
        "curl -s -o \"$2\" tftp://127.0.0.1/$1",
        "curl -s --tftp-blksize 1468 -o \"$2\" tftp://127.0.0.1/$1",
        "tftp 127.0.0.1 -m binary -c get $1 \"$2\"",
        "atftp -g -r $1 -l \"$2\" --option 'blksize 1024' --option 'tsize 0' "
        "--option 'timeout 3' 127.0.0.1",
        "atftp -g -r $1 -l \"$2\" --option 'windowsize 16' --option 'blksize 1468' 127.0.0.1",
    };
    const size_t sizes[] = {0, 511, 512, 1000000};
    for (size_t size : sizes) {
        m_root.Write("fw" + std::to_string(size) + ".bin", Pattern(size, size));
    }
    TempDir out;
    for (size_t c = 0; c < std::size(clients); ++c) {
        for (size_t size : sizes) {
            const std::string name = "fw" + std::to_string(size) + ".bin";
            const std::string local = out.File(std::to_string(c) + name);
            SCOPED_TRACE(std::string(clients[c]) + " " + name);
            const int status =
                RunCommand({"/bin/sh", "-c", clients[c], "sh", name, local}, nullptr, 60000);
            // tftp-hpa exits 0 even after an ERROR, and curl refuses an announced size of 0
            // from any server: the file is then the only witness.
            EXPECT_TRUE(c == 2 || size == 0 || status == 0) << status;
            ASSERT_TRUE(ReadWholeFile(local) == Pattern(size, size));
        }
    }
    // An upload in windows of 16 blocks: the server's ACKs open each window.
    const int status = RunCommand({"/bin/sh", "-c",
                                   "atftp -p -r up.bin -l \"$1\" --option 'windowsize 16' "
                                   "--option 'blksize 1468' 127.0.0.1",
                                   "sh", m_root.File("fw1000000.bin")},
                                  nullptr, 60000);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(ReadWholeFile(m_root.File("up.bin")) == Pattern(1000000, 1000000));
    EXPECT_EQ(LogCount("TIMEOUT"), 0u);
}

}  // namespace
}  // namespace orvane::test

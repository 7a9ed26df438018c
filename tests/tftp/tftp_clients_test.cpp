// Debian's TFTP clients against the service, as the devices' own clients would use it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/child_process.h"
#include "tftp/tftp_fixture.h"

namespace orvane::test {
namespace {

constexpr int kClientTimeoutMs = 60000;

// argv with "@name" (the remote name) and "@local" (the local file) filled in.
std::vector<std::string> Fill(std::vector<std::string> argv, const std::string& name,
                              const std::string& local) {
    for (std::string& arg : argv) {
        const size_t at = arg.find('@');
        if (at != std::string::npos) {
            arg = arg.substr(0, at) + (arg.substr(at) == "@name" ? name : local);
        }
    }
    return argv;
}

// Catches any block-boundary, option or last-block fault that corrupts or cuts a download
// with a real client: with either client's options, with none, with a block size of its own.
TEST_F(TftpServiceTest, RealClientsDownloadByteIdenticalFiles) {
    const std::vector<std::vector<std::string>> clients = {
        {"/usr/bin/curl", "-s", "-o", "@local", "tftp://127.0.0.1/@name"},
        {"/usr/bin/curl", "-s", "--tftp-blksize", "1468", "-o", "@local", "tftp://127.0.0.1/@name"},
        {"/usr/bin/tftp", "127.0.0.1", "-m", "binary", "-c", "get", "@name", "@local"},
        {"/usr/bin/atftp", "-g", "-r", "@name", "-l", "@local", "--option", "blksize 1024",
         "--option", "tsize 0", "--option", "timeout 3", "127.0.0.1"},
    };
    const std::vector<size_t> sizes = {0, 511, 512, 1000000};
    for (size_t size : sizes) {
        m_root.Write("fw" + std::to_string(size) + ".bin", Pattern(size, size));
    }
    TempDir out;
    for (size_t c = 0; c < clients.size(); ++c) {
        for (size_t size : sizes) {
            const std::string name = "fw" + std::to_string(size) + ".bin";
            const std::string local = out.File(std::to_string(c) + name);
            SCOPED_TRACE(local);
            RunCommand(Fill(clients[c], name, local), nullptr, kClientTimeoutMs);
            // tftp-hpa exits 0 even after an ERROR: the file is the only witness.
            ASSERT_TRUE(ReadWholeFile(local) == Pattern(size, size));
        }
    }
    EXPECT_EQ(LogCount("TIMEOUT"), 0u);
}

}  // namespace
}  // namespace orvane::test

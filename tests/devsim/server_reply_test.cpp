#include "tools/devsim/server_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane::devsim {
namespace {

// Catches the simulator's reader taking what a device would refuse, which would let a fault in
// the server's replies pass the roads (every road reads the good replies).
TEST(ServerReplyTest, RefusesAnythingButTheExactLinesOfAReply) {
    const std::string head = "Msg:Request_ipaddr\r\nCseq:1\r\n";
    const std::string tail = "IPCMac:m\r\n";
    const std::string refused[] = {
        head + tail,                                       // no NUL after the text
        head + tail + '\0' + 'x' + '\0',                   // bytes after it
        "Cseq:1\r\nMsg:Request_ipaddr\r\n" + tail + '\0',  // lines out of order
        head + "X:y\r\n" + tail + '\0',                    // a line too many
        head + "ServerMac:a\r\nServerIP:b\r\nIpaddr:c\r\n" + tail + "Version:d\r\n" + '\0',
        "Msg:Request_ipaddr\r\nCseq:1x\r\n" + tail + '\0',
        head + "IPCMac:m" + std::string(1, '\0'),  // no last CR LF
    };
    for (const std::string& text : refused) {
        ServerReply reply;
        std::string error;
        EXPECT_FALSE(ReadServerReply(text.data(), text.size(), &reply, &error)) << text;
    }
}

}  // namespace
}  // namespace orvane::devsim

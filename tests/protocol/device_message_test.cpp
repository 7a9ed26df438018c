#include "protocol/device_message.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

// Catches keyword order mistakes (LogoUpgraded vs LogoUpgradeing), case-insensitive keys and
// a missing CR LF being accepted.
TEST(GetMsgTypeTest, ClassifiesByKeywordPrefixInTableOrder) {
    struct Case {
        const char* msg;
        int type;
    } cases[] = {
        {"Msg:Request_ipaddr\r\n", 0},
        {"Msg:Request_ipaddrXYZ\r\n", 0},         // trailing letters ignored
        {"msg:Request_ipaddr\r\n", kMsgUnknown},  // key is case-sensitive
        {"Msg:Request_ipaddr", kMsgUnknown},      // no CR LF after the value
        {"Msg:Report_Downloading\r\n", 1},
        {"Msg:Report_Update\r\n", 12},
        {"Msg:Report_LogoUpgraded\r\n", 10},
        {"Msg:Report_LogoUpgradeing\r\n", 9},
        {"Msg:Report_\r\n", kMsgUnknown},
        {"Version:A-1\r\n", kMsgUnknown},                     // no Msg: at all
        {"X\r\nMsg:Report_Param\r\nMsg:Report_App\r\n", 11},  // first Msg: wins
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetMsgType(c.msg), c.type) << c.msg;
    }
    EXPECT_EQ(GetMsgType("Msg:" + std::string(500, 'R') + "\r\n"), kMsgUnknown);
    EXPECT_EQ(GetMsgType("Msg:Report_Kernel" + std::string(500, 'k') + "\r\n"), 3);
    EXPECT_EQ(GetMsgType("Cseq:1\r\nMsg:Request_ipaddr\r\n"), kMsgRequestIpaddr);
}

// Catches wrong field handling: '*' replacement, trailing '-', over-long fields.
TEST(SplitVersionTest, ModelAndVersionNumber) {
    struct Case {
        const char* version;
        const char* model;
        const char* verNum;
    } cases[] = {
        {"IPC*X1-1.2.3.4-B7", "IPC-X1", "1.2.3.4"},
        {"IPCX1", "IPCX1", "keep"},
        {"IPCX1-", "IPCX1", "keep"},
        {"", "keep", "keep"},
        {"-1.0", "", "1.0"},
        {"A--2", "A", ""},
    };
    for (const Case& c : cases) {
        std::string model = "keep";
        std::string verNum = "keep";
        SplitVersion(c.version, model, verNum);
        EXPECT_EQ(model, c.model) << c.version;
        EXPECT_EQ(verNum, c.verNum) << c.version;
    }
    std::string model, verNum;
    SplitVersion(std::string(100, 'M') + "-" + std::string(100, '9'), model, verNum);
    EXPECT_EQ(model.size(), 64u);
    EXPECT_EQ(verNum.size(), 64u);
}

// Catches a request's line read with the wrong key, limit or place: the first faulty line in
// order is named. Limits as devices know them (the table's own would follow a wrong row).
TEST(DeviceMessageTest, FirstFaultyRequestLineIsNamed) {
    const std::string v255 = "Version:" + std::string(255, 'v') + "\r\n";
    const std::string mac64 = "IPCMac:" + std::string(64, 'm') + "\r\n";
    const std::pair<std::string, const char*> cases[] = {
        {v255 + "Cseq:" + std::string(15, '1') + "\r\nIPCMac:" + std::string(63, 'm') + "\r\n",
         nullptr},  // read whole
        {"Version:" + std::string(256, 'v') + "\r\nCseq:1\r\n" + mac64, "IPC_VERSION"},
        {v255 + "Cseq:" + std::string(16, '1') + "\r\n", "IPC_CSEQ"},
        {v255 + "Cseq:1\r\n" + mac64, "IPC_MAC"},
        {"Cseq:1\r\nIPCMac:m", "IPC_VERSION"},
    };
    for (const auto& [text, field] : cases) {
        DeviceRequest read;
        const FieldError error = ParseDeviceRequest(text, &read);
        EXPECT_STREQ(error ? error.field->szLogName : nullptr, field) << text;
    }
}

// Catches a Cseq read or answered with a wrap on hostile values, and a longest reply cut short.
TEST(ReplyTest, CseqRuleAndLongestReply) {
    const std::pair<const char*, int> cseqs[] = {{"7", 7},
                                                 {"abc", 0},
                                                 {"", 0},
                                                 {"  -12x", -12},
                                                 {"+5", 5},
                                                 {"999999999999999", 2147483647},
                                                 {"-999999999999999", -2147483647 - 1}};
    for (const auto& [text, value] : cseqs) {
        EXPECT_EQ(ProtocolAtoi(text), value) << text;
    }
    EXPECT_EQ(BuildNoNewVersionReply(2147483647, "m"),
              "Msg:Request_ipaddr\r\nCseq:2147483648\r\nIPCMac:m\r\n");
    // The longest reply the value limits allow still fits its buffer whole.
    const std::string v63(63, '1');
    AssignReply big{
        0, std::string(17, 'M'), v63, v63, v63, std::string(255, 'v'), std::string(255, 'f')};
    std::string text = BuildAssignReply(big);
    EXPECT_EQ(text.size(), 806u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

}  // namespace
}  // namespace orvane

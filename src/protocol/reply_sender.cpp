#include "protocol/reply_sender.h"

#include "platform/udp_socket.h"
#include "protocol/device_message.h"

namespace orvane {

int SendToIPC(const std::string& localIP, const char* text, size_t len) {
    platform::UdpSocket sock;
    if (!sock.Open()) {
        return -1;
    }
    platform::Endpoint local;
    if (!sock.SetBroadcast() || !platform::Endpoint::Parse(localIP, 0, &local) ||
        !sock.Bind(local)) {
        return -2;
    }
    sock.SetNonBlocking(true);
    const platform::Endpoint broadcast{0xFFFFFFFFu, kReplyPort};
    sock.SendTo(text, len + 1, broadcast);  // the text and its NUL; the outcome is not examined
    return 0;
}

}  // namespace orvane

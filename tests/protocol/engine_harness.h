#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/udp_socket.h"
#include "protocol/orvane_engine.h"

namespace orvane::test {

// Sends `text` as a device would, to the listener on 127.0.0.1.
inline void SendToListener(const std::string& text) {
    platform::UdpSocket s;
    ASSERT_TRUE(s.Open());
    ASSERT_EQ(s.SendTo(text.data(), text.size(), platform::Endpoint{0x7F000001u, kListenPort}),
              static_cast<long>(text.size()));
}

}  // namespace orvane::test

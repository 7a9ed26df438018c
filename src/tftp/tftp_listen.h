#pragma once

// The service's listening socket, and the texts of its socket errors.

#include <string>

#include "platform/udp_socket.h"

namespace orvane {

// The system's text for error `err`, at most 511 characters, cut at its first carriage return.
std::string TftpSystemText(int err);

// Creates and binds the non-blocking listening socket on `bindAddress` (every local address
// when empty) and `port`; false, with everything logged, when it cannot be had.
bool CreateTftpListeningSocket(const std::string& bindAddress, int port, platform::UdpSocket* sock);

}  // namespace orvane

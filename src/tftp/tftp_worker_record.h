#pragma once

// A worker of the service's pool: its thread, its place in the pool, the request as it came in,
// and the transfer it runs with it.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/thread.h"
#include "platform/udp_socket.h"
#include "platform/wake_event.h"
#include "tftp/tftp_request.h"
#include "tftp/tftp_settings.h"
#include "tftp/tftp_transfer_record.h"

namespace orvane {

// One worker thread and the transfer it runs. The service's main thread owns the record, picks
// it for a request (while `busy` is 0) and frees it only after its thread has ended; the worker
// touches nothing but its own record while `busy` is 1: it changes `transfer` (the main thread
// then reaches it only to cancel, under its csSend) and clears `busy` at the end, and only reads
// the rest.
struct TftpWorker {
    std::atomic<int> busy{0};
    std::atomic<int> permanent{0};
    platform::Thread thread;
    std::atomic<int> threadId{0};
    platform::AutoResetEvent wake;  // permanent workers wait here between transfers
    int permanentIndex = 0;

    // Set by the main thread before the worker is released.
    int transferNumber = 0;
    // The client as received (transfer.peer is its copy the worker connects to); only the
    // main thread touches it.
    platform::SocketAddress requestFrom;
    std::array<uint8_t, kTftpPacketSize> request{};
    size_t requestLength = 0;

    TftpTransfer transfer;

    // Readies the record for a new request (main thread, while the worker is idle).
    void Take(std::shared_ptr<const TftpSettings> settings, int timeout, int number, int64_t now) {
        transferNumber = number;
        requestLength = 0;
        request.fill(0);
        transfer.Reset(std::move(settings), timeout, now);
    }
};

}  // namespace orvane

#pragma once

// The TFTP service: the listening socket on port 69, the main thread that accepts requests
// and the workers that run the transfers.

#include <cstddef>
#include <cstdint>

namespace orvane {

// Fixed settings of the service (the tests shorten nothing: these are the served values).
struct TftpConfig {
    static constexpr int kPort = 69;
    static constexpr int kTimeoutSeconds = 5;
    static constexpr int kRetransmitLimit = 6;
    static constexpr size_t kRecordLimit = 100;
    static constexpr int kPermanentWorkers = 30;
    static constexpr int kMainWaitMs = 2000;
    static constexpr size_t kMaxRoot = 259;
    static constexpr size_t kMaxBindAddress = 131;
};

// Starts the service, or when it runs already only updates its root folder and bind address
// (the listening socket keeps its address until the next stop and start). The bind address is
// taken only when it begins with a digit (else every local address is served); the root only
// when it names an existing folder (else the previous root, "." at first, stays). Failures
// are logged, never returned.
void StartTftp(const char* bindAddress, const char* rootFolder);

// Stops the service: running transfers get ERROR 99 and end; returns when the main thread has
// collected every worker, or after 60 s. Safe to call when not running.
void StopTftp();

// The operator's choice whether write requests are served (the default) or refused with
// ERROR 2; taken by each request as it arrives.
void SetTftpWriteAllowed(bool allowed);

// Port the service listens on; tests and benchmarks may move it off 69 before StartTftp.
void SetTftpPort(int port);

// Transfer records in the list right now (idle permanent ones included); for tests.
size_t TftpRecordCount();

}  // namespace orvane

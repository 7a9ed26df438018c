#pragma once

// The TFTP service: the listening socket (port 69 unless told otherwise), the main thread that
// accepts requests and the workers that run the transfers.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "tftp/tftp_settings.h"

namespace orvane {

class TftpRun;
struct TftpRunNumbers;

// One TFTP server, owned by whoever serves files (the engine, a test, a benchmark). Start and
// Stop are called from one thread at a time; the service's own threads never call back.
class TftpService {
  public:
    TftpService();
    // Stops the service.
    ~TftpService();
    TftpService(const TftpService&) = delete;
    TftpService& operator=(const TftpService&) = delete;

    // Starts the service with `settings`, or when it runs already takes them for the requests
    // that follow (the listening socket keeps its address and port until the next stop and
    // start). The bind address is taken only when it begins with a digit (else every local
    // address is served); the root only when it names an existing folder (else the previous
    // root, "." at first, stays). Failures are logged, never returned.
    void Start(const TftpSettings& settings);

    // Stops the service: running transfers get ERROR 99 and end; returns when the main thread
    // has collected every worker, or after 60 s. Safe to call when not running.
    void Stop();

    // Transfer records in the list right now (idle permanent ones included).
    size_t RecordCount() const;

  private:
    std::mutex m_cs;  // guards the root and the current run
    std::string m_szRoot = ".";
    std::unique_ptr<TftpRun> m_run;
    const std::shared_ptr<TftpRunNumbers> m_numbers;
};

}  // namespace orvane

#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace orvane {

// A device request parked for the cloud thread: the deferred arguments of
// assignIPAndFirmware, keyed by the model.
struct CloudRequest {
    std::string szKey;  // the model once more
    std::string szVersion;
    std::string szModel;
    std::string szVerNum;
    std::string szMac;
    int iSequence = 0;
    int iCseq = 0;
};

// Requests wait here until the cloud thread takes them one download at a time; devices ask
// again every few seconds, so without a bound a busy network would grow the queue for good.
constexpr size_t kMaxCloudRequests = 1000;

// The requests parked for the cloud thread (first in, first out) and the models it has
// downloaded this run. Request workers park, the cloud thread takes, Stop clears; any thread.
// The lock is held only to change or copy one list, never while calling out, so it is never
// held together with another engine lock.
class CloudRequestQueue {
  public:
    // Appends `request`; false (nothing appended) when kMaxCloudRequests wait already.
    bool Park(CloudRequest request);
    // Moves the oldest request into `request`; false when none waits.
    bool Take(CloudRequest* request);
    // A copy of the waiting requests, oldest first.
    std::deque<CloudRequest> Pending() const;

    // Whether the cloud thread has downloaded firmware of `model` this run.
    bool IsDownloaded(const std::string& model) const;
    void MarkDownloaded(const std::string& model);

    // Stop: both lists emptied.
    void Clear();

  private:
    mutable std::mutex m_csCloudRequest;
    std::deque<CloudRequest> m_vecCloudRequest;     // guarded by m_csCloudRequest
    std::vector<std::string> m_vecDownloadedModel;  // guarded by m_csCloudRequest
};

}  // namespace orvane

#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/device_message.h"

namespace orvane {

// A device request parked for the cloud thread, with the number of the request that parked it
// (its log lines go on under that number). Park and Claim give an entry the iCseq and number of
// the device's latest request.
struct CloudRequest : DeviceRequest {
    int iSequence = 0;
};

// Devices wait here until the cloud thread takes them one download at a time; the network
// can make up MACs, so without a bound it would grow the queue for good.
constexpr size_t kMaxCloudRequests = 1000;

// The requests parked for the cloud thread, one per device (by MAC), first in first out, and
// the models it has downloaded this run. Request workers park and claim, the cloud thread
// takes, Stop clears; any thread. A device asks again every few seconds while it waits: its
// one entry keeps the latest Cseq, so it gets one answer, to the request it made last. The
// lock is held only to change or copy the lists, never while calling out, so it is never held
// together with another engine lock.
class CloudRequestQueue {
  public:
    enum class ParkResult {
        kParked,   // a new entry at the back
        kUpdated,  // the device's entry (waiting or in hand) took the request's Cseq
        kFull,     // kMaxCloudRequests devices wait already: nothing changed
    };
    ParkResult Park(CloudRequest request);
    // Moves the oldest request into `request`; false when none waits. It stays the request in
    // hand, still updated by Park and Claim, until EndInHand.
    bool Take(CloudRequest* request);
    // The cloud thread is done with the request in hand; its latest values go to `latest`
    // when one is given (and a request is in hand).
    void EndInHand(CloudRequest* latest = nullptr);
    // A request worker found the device's firmware and is about to answer the device. True:
    // answer it (a waiting entry of the device is withdrawn: this answer replaces it). False:
    // the cloud thread has the device in hand and answers it, now with this request's Cseq.
    bool Claim(const std::string& mac, int sequence, int cseq);
    // A copy of the waiting requests, oldest first (not the one in hand).
    std::deque<CloudRequest> Pending() const;

    // Whether the cloud thread has downloaded firmware of `model` this run.
    bool IsDownloaded(const std::string& model) const;
    void MarkDownloaded(const std::string& model);

    // Stop: both lists and the request in hand emptied.
    void Clear();

  private:
    // The waiting entry of `mac`, or null.
    CloudRequest* FindWaiting(const std::string& mac);

    mutable std::mutex m_csCloudRequest;
    std::deque<CloudRequest> m_vecCloudRequest;     // guarded by m_csCloudRequest
    bool m_bInHand = false;                         // guarded by m_csCloudRequest
    CloudRequest m_inHand;                          // guarded by m_csCloudRequest
    std::vector<std::string> m_vecDownloadedModel;  // guarded by m_csCloudRequest
};

}  // namespace orvane

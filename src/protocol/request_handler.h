#pragma once

#include <atomic>
#include <string>

#include "firmware/upgrade_catalogue.h"
#include "firmware/upgrade_file_info.h"
#include "protocol/batch_gate.h"
#include "protocol/cloud_request_queue.h"
#include "protocol/device_message.h"
#include "protocol/device_table.h"
#include "protocol/engine_counters.h"
#include "protocol/ip_allocator.h"
#include "protocol/reply_sender.h"

namespace orvane {

class ServiceView;

// The answer to an address request: the catalogue lookup, the site's gate, the cloud path, an
// address and the reply. It keeps no state of its own beyond what it is told; every member
// may run on many request workers (and the cloud thread) at once.
class RequestHandler {
  public:
    // What the request handling uses; all of it outlives the handler.
    struct Parts {
        ServiceView& view;                     // the check boxes, read at the moment of use
        DeviceTable& table;                    // rows and the bound on answered devices
        UpgradeCatalogue& catalogue;           // what is offered
        BatchGate& batch;                      // who is upgraded now
        CloudRequestQueue& cloud;              // devices parked for the cloud thread
        IpAllocator& allocator;                // device addresses
        EngineCounters& counters;              // totals for the metrics
        ReplySender& sender;                   // where the replies go
        const std::string& localIP;            // m_szLocalIP: set at Start, constant while running
        const std::string& localMac;           // m_szLocalMac: the same
        const std::atomic<int>& netConnected;  // m_bNetConnected: the update service answers
    };

    explicit RequestHandler(const Parts& parts) : m_parts(parts) {}
    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

    // Handles one address request (on its worker thread).
    void RequestIpaddrProc(const std::string& text, int sequence);
    // Looks the model up in the catalogue and copies the chosen record into `out`: 0 chosen;
    // 1 no record of the model; 2 nothing newer; 3 the device is newer or has no version.
    int FindNewVersion(const std::string& model, const std::string& verNum, UpgradeFileInfo* out);
    // Answers one device (or parks it for the cloud when allowed and no file of its model is
    // there); true when a reply was sent. Runs on request workers and the cloud thread;
    // `sequence` numbers the request's log lines.
    bool assignIPAndFirmware(const DeviceRequest& request, int sequence, bool cloudAllowed);

  private:
    // Parks the request for the cloud thread (dropped, logged, when the queue is full or the
    // table takes no more devices) and shows the device's "Cloud firmware download" row; a
    // device that waits already only has its entry take this request's Cseq.
    void ParkCloudRequest(const DeviceRequest& request, int sequence);
    // The answers for devices the run does not upgrade (now).
    void AnswerNoUpgrade(const DeviceRequest& request, int statusText);
    void ShowWaitingRow(const DeviceRequest& request);

    const Parts m_parts;
};

}  // namespace orvane

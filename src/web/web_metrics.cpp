#include "web/web_metrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include "protocol/orvane_engine.h"
#include "record/upgrade_record.h"
#include "tftp/tftp_counters.h"

namespace orvane {

namespace {

using Read = uint64_t (*)(const OrvaneEngine&, const UpgradeRecord&);

struct CounterSpec {
    const char* name;
    const char* help;
    const char* result;  // value of the label; null for none
    Read read;
    const char* label = "result";
};

// The names are what dashboards and alerts are written against: keep them.
const CounterSpec kCounters[] = {
    {"orvane_upgrades_total", "Devices whose upgrade ended, by result", "success",
     [](const OrvaneEngine&, const UpgradeRecord& r) { return r.Count(UpgradeRecord::kSuccess); }},
    {"orvane_upgrades_total", "", "failure",
     [](const OrvaneEngine&, const UpgradeRecord& r) { return r.Count(UpgradeRecord::kFailure); }},
    {"orvane_upgrades_total", "", "incomplete",
     [](const OrvaneEngine&, const UpgradeRecord& r) {
         return r.Count(UpgradeRecord::kIncomplete);
     }},
    {"orvane_record_write_errors_total",
     "Writes of the upgrade record that failed (the lines are kept and written again)", nullptr,
     [](const OrvaneEngine&, const UpgradeRecord& r) { return r.WriteErrors(); }},
    {"orvane_device_requests_total", "Address requests from devices handled", nullptr,
     [](const OrvaneEngine& e, const UpgradeRecord&) { return e.Counters().requests.load(); }},
    {"orvane_device_requests_dropped_total",
     "Address requests dropped while every request worker was busy", nullptr,
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().requestsDropped.load();
     }},
    {"orvane_device_requests_out_of_scope_total",
     "Address requests of devices outside the run's scope (told there is nothing new)", nullptr,
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().requestsOutOfScope.load();
     }},
    {"orvane_device_reports_dropped_total", "Progress reports dropped by a full queue", nullptr,
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().reportsDropped.load();
     }},
    {"orvane_tftp_transfers_total", "TFTP transfers finished, by result", "success",
     [](const OrvaneEngine&, const UpgradeRecord&) {
         return GetTftpCounters().transfersOk.load();
     }},
    {"orvane_tftp_transfers_total", "", "failure",
     [](const OrvaneEngine&, const UpgradeRecord&) {
         return GetTftpCounters().transfersFailed.load();
     }},
    {"orvane_tftp_bytes_sent_total", "File bytes sent in TFTP DATA packets, resends included",
     nullptr,
     [](const OrvaneEngine&, const UpgradeRecord&) { return GetTftpCounters().bytesSent.load(); }},
    {"orvane_cloud_queries_total", "Firmware queries to the update service, by result", "success",
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().cloudQueriesOk.load();
     }},
    {"orvane_cloud_queries_total", "", "failure",
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().cloudQueriesFailed.load();
     }},
    {"orvane_cloud_downloads_total", "Cloud firmware downloads, by result", "success",
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().cloudDownloadsOk.load();
     }},
    {"orvane_cloud_downloads_total", "", "failure",
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().cloudDownloadsFailed.load();
     }},
    {"orvane_firmware_refused_total",
     "Firmware files and signed lists the trust key's check refused, by reason", "unlisted",
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().firmwareRefused.unlisted.load();
     },
     "reason"},
    {"orvane_firmware_refused_total", "", "digest",
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().firmwareRefused.digest.load();
     },
     "reason"},
    {"orvane_firmware_refused_total", "", "signature",
     [](const OrvaneEngine& e, const UpgradeRecord&) {
         return e.Counters().firmwareRefused.signature.load();
     },
     "reason"},
};

}  // namespace

WebMetrics::WebMetrics(const OrvaneEngine& engine, const UpgradeRecord& record,
                       const std::string& version)
    : m_engine(engine), m_record(record), m_registry(std::make_shared<prometheus::Registry>()) {
    prometheus::Family<prometheus::Counter>* family = nullptr;
    std::string familyName;
    for (const CounterSpec& def : kCounters) {
        if (familyName != def.name) {
            familyName = def.name;
            family =
                &prometheus::BuildCounter().Name(def.name).Help(def.help).Register(*m_registry);
        }
        prometheus::Labels labels;
        if (def.result) {
            labels[def.label] = def.result;
        }
        m_vecFollowers.push_back({&family->Add(labels), def.read, 0});
    }
    m_pTransfersActive = &prometheus::BuildGauge()
                              .Name("orvane_tftp_transfers_active")
                              .Help("TFTP transfers running now")
                              .Register(*m_registry)
                              .Add({});
    m_pRows = &prometheus::BuildGauge()
                   .Name("orvane_device_rows")
                   .Help("Rows of the device list")
                   .Register(*m_registry)
                   .Add({});
    m_pRunning = &prometheus::BuildGauge()
                      .Name("orvane_service_running")
                      .Help("1 while the upgrade service runs")
                      .Register(*m_registry)
                      .Add({});
    m_pWaiting = &prometheus::BuildGauge()
                      .Name("orvane_devices_waiting")
                      .Help("Devices waiting for their turn (devices at once, first group)")
                      .Register(*m_registry)
                      .Add({});
    m_pHalted = &prometheus::BuildGauge()
                     .Name("orvane_halted")
                     .Help("1 once the run has halted after too many failures")
                     .Register(*m_registry)
                     .Add({});
    prometheus::BuildGauge()
        .Name("orvane_build_info")
        .Help("The running program's version")
        .Register(*m_registry)
        .Add({{"version", version}})
        .Set(1);
}

WebMetrics::~WebMetrics() = default;

std::string WebMetrics::Scrape() {
    std::lock_guard<std::mutex> lock(m_csScrape);
    for (Follower& f : m_vecFollowers) {
        const uint64_t now = f.read(m_engine, m_record);
        if (now > f.last) {
            f.counter->Increment(static_cast<double>(now - f.last));
            f.last = now;
        }
    }
    m_pTransfersActive->Set(static_cast<double>(GetTftpCounters().transfersActive.load()));
    m_pRows->Set(m_engine.Devices().RowCount());
    m_pRunning->Set(m_engine.IsRunning() ? 1 : 0);
    const BatchStatus batch = m_engine.Batch().Status();
    m_pWaiting->Set(batch.iWaiting);
    m_pHalted->Set(batch.bHalted ? 1 : 0);
    return prometheus::TextSerializer().Serialize(m_registry->Collect());
}

}  // namespace orvane

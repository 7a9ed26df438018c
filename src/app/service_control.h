#pragma once

#include <string>
#include <utility>

#include "protocol/orvane_engine.h"
#include "support/adapters.h"

namespace orvane {

// What the operator chose before pressing Start.
struct StartSettings {
    std::string szLocalIP;        // the address box
    std::string szUpgradeFolder;  // the folder box
};

// Why Start did not start the service.
struct StartResult {
    bool bStarted = false;
    int iTextId = 0;        // string-table text to show the operator, 0 for none
    std::string szMessage;  // plain text for the terminal when there is no text id
};

// The Start and Stop commands' sequences, shared by the window and the headless front-end:
// the checks and steps before the engine starts, in their order, then the engine itself.
class ServiceControl {
  public:
    // `lister` is where the serving adapter's MAC is looked up (tests pass fabricated ones).
    explicit ServiceControl(OrvaneEngine& engine,
                            AdapterLister lister = platform::ListNetInterfaces)
        : m_engine(engine), m_adapterLister(std::move(lister)) {}

    StartResult Start(const StartSettings& settings);
    void Stop();

  private:
    bool PrepareUpgradeFolder(const StartSettings& settings, StartResult* result);
    void CheckCloud();
    bool PrepareLocalAddress(const StartSettings& settings, ServiceConfig* config,
                             StartResult* result);
    bool ReadServingMac(ServiceConfig* config, StartResult* result);
    void SaveSettings(const StartSettings& settings);

    OrvaneEngine& m_engine;
    AdapterLister m_adapterLister;
};

}  // namespace orvane

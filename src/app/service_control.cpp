#include "app/service_control.h"

namespace orvane {

StartResult ServiceControl::Start(const StartSettings& settings) {
    StartResult result;
    ServiceConfig config;
    config.szUpgradeFolder = settings.szUpgradeFolder;

    if (!PrepareUpgradeFolder(settings, &result)) {
        return result;
    }

    CheckCloud();

    if (!PrepareLocalAddress(settings, &config, &result)) {
        return result;
    }

    if (!ReadServingMac(&config, &result)) {
        return result;
    }

    SaveSettings(settings);

    if (!m_engine.StartService(config)) {
        result.szMessage = "the service threads could not be started";
        return result;
    }
    result.bStarted = true;
    return result;
}

void ServiceControl::Stop() {
    m_engine.StopService();
}

// The upgrade folder must exist before the TFTP service and the catalogue use it.
bool ServiceControl::PrepareUpgradeFolder(const StartSettings&, StartResult*) {
    return true;
}

// Whether the cloud update service can be asked for firmware this run.
void ServiceControl::CheckCloud() {}

// The serving address and the allocation cursor.
bool ServiceControl::PrepareLocalAddress(const StartSettings& settings, ServiceConfig* config,
                                         StartResult*) {
    config->szLocalIP = settings.szLocalIP;
    return true;
}

// The serving adapter's MAC, which devices are told as "ServerMac:".
bool ServiceControl::ReadServingMac(ServiceConfig*, StartResult*) {
    return true;
}

// Settings are saved at every Start, never at exit.
void ServiceControl::SaveSettings(const StartSettings&) {}

}  // namespace orvane

#include "support/adapters.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/udp_socket.h"
#include "support/log.h"

namespace orvane {

namespace {

// NetBIOS "invalid adapter number": what the fallback answers when no adapter qualifies,
// like an adapter-status query of an adapter that does not exist.
constexpr int kNrcBridge = 0x23;

constexpr const char* kFilterWords[] = {"Virtual", "VPN", "VM"};

bool IsFilteredOut(const platform::NetInterface& adapter) {
    const std::string description = AdapterDescription(adapter);
    return std::any_of(std::begin(kFilterWords), std::end(kFilterWords), [&](const char* word) {
        return description.find(word) != std::string::npos;
    });
}

// "%02X" for the first byte, "-%02X" for each further one; the buffer is kMacTextSize bytes.
void WriteMacText(const std::vector<uint8_t>& bytes, char* mac) {
    size_t used = 0;
    for (size_t i = 0; i < bytes.size() && used + 4 < kMacTextSize; ++i) {
        used += static_cast<size_t>(
            std::snprintf(mac + used, kMacTextSize - used, i == 0 ? "%02X" : "-%02X", bytes[i]));
    }
}

bool IsUsableEthernet(const platform::NetInterface& adapter) {
    return adapter.bEthernet && adapter.vecHardwareAddr.size() == 6 &&
           std::any_of(adapter.vecHardwareAddr.begin(), adapter.vecHardwareAddr.end(),
                       [](uint8_t b) { return b != 0; });
}

}  // namespace

std::string AdapterDescription(const platform::NetInterface& adapter) {
    return adapter.bHasDevice ? adapter.szName : adapter.szName + " Virtual";
}

int GetLocalIpList(char list[kMaxLocalIps][kIpTextSize], const AdapterLister& lister) {
    std::vector<platform::NetInterface> adapters;
    int rc = lister(&adapters);
    if (rc != 0) {
        WriteLog(kLogMajor, "GetLocalIpList reading the interfaces failed, error %d (%s)", rc,
                 platform::SocketErrorText(rc).c_str());
        return 0;
    }
    int count = 0;
    for (const auto& adapter : adapters) {
        if (count >= kMaxLocalIps) {
            break;
        }
        if (adapter.bLoopback || IsFilteredOut(adapter)) {
            continue;
        }
        for (const auto& ip : adapter.vecIpv4) {
            if (count >= kMaxLocalIps) {
                break;
            }
            if (ip.empty() || ip == "0.0.0.0") {
                continue;
            }
            std::memset(list[count], 0, kIpTextSize);
            std::memcpy(list[count], ip.data(), std::min(ip.size(), kIpTextSize - 1));
            ++count;
        }
    }
    return count;
}

int GetMacAddress2(const char* ip, char* mac, const AdapterLister& lister) {
    std::vector<platform::NetInterface> adapters;
    int rc = lister(&adapters);
    if (rc != 0) {
        WriteLog(kLogMajor, "[%s,%d] GetAdaptersAddresses not return NO_ERROR return,iRet=%d",
                 "GetMacAddress2", 245, rc);
        return rc;
    }
    const std::string wanted = ip ? ip : "";
    bool found = false;
    for (const auto& adapter : adapters) {
        if (found) {
            break;
        }
        if (!adapter.bUp) {
            continue;
        }
        for (const auto& addr : adapter.vecIpv4) {
            if (addr == wanted) {
                WriteMacText(adapter.vecHardwareAddr, mac);
                found = true;
                break;
            }
        }
    }
    WriteLog(kLogMajor, "[%s,%d] mac=%s", "GetMacAddress2", 287, mac);
    return 0;
}

int GetMacAddress(char* mac, const AdapterLister& lister) {
    std::vector<platform::NetInterface> adapters;
    int rc = lister(&adapters);
    if (rc != 0) {
        WriteLog(kLogMajor, "[%s,%d] Netbios failed return,iRet=%d", "GetMacAddress", 179, rc);
        return rc;
    }
    auto it = std::find_if(adapters.begin(), adapters.end(), IsUsableEthernet);
    if (it == adapters.end()) {
        WriteLog(kLogMajor, "[%s,%d] Netbios failed return,iRet=%d", "GetMacAddress", 206,
                 kNrcBridge);
        return kNrcBridge;
    }
    WriteMacText(it->vecHardwareAddr, mac);
    return 0;
}

std::string ReadServingMacText(const std::string& ip, const AdapterLister& lister) {
    static const char* const kCaller = "COrvaneDlg::OnBnClickedBtnBeginUpgrade";
    char mac[kMacTextSize] = {};
    if (GetMacAddress2(ip.c_str(), mac, lister) != 0) {
        std::memset(mac, 0, sizeof mac);
        if (GetMacAddress(mac, lister) != 0) {
            WriteLog(kLogSuggestive, "%s GetMacAddress error, return", kCaller);
        }
    }
    WriteLog(kLogMajor, "[%s,%d] mac=%s", kCaller, 2845, mac);
    std::string text(mac);
    std::replace(text.begin(), text.end(), '-', ':');
    return text;
}

}  // namespace orvane

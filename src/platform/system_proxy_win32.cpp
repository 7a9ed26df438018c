#include <windows.h>

#include <winhttp.h>

#include "platform/system_proxy.h"
#include "platform/win32_util.h"

namespace orvane::platform {

namespace {

// Takes a string the system allocated for the caller.
std::string Take(LPWSTR text) {
    if (!text) {
        return "";
    }
    std::string utf8 = win32::Utf8(text, wcslen(text));
    ::GlobalFree(text);
    return utf8;
}

}  // namespace

// The settings the Internet Options dialog keeps; an automatic configuration (WPAD or a
// script's address) is not followed: it would need a fetch and a script engine.
SystemProxy GetSystemProxy() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) {
        return {};
    }
    Take(config.lpszAutoConfigUrl);
    SystemProxy proxy;
    proxy.servers = Take(config.lpszProxy);
    proxy.bypass = Take(config.lpszProxyBypass);
    return proxy;
}

}  // namespace orvane::platform

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/system_proxy.h"

namespace orvane::platform {

namespace {

std::vector<std::string> Entries(const std::string& list) {
    std::vector<std::string> entries;
    std::string entry;
    for (char c : list + ";") {
        if (c == ';' || c == ',' || std::isspace(static_cast<unsigned char>(c))) {
            if (!entry.empty()) {
                entries.push_back(entry);
            }
            entry.clear();
        } else {
            entry += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return entries;
}

// '*' matches any run of characters, everything else itself (both sides in lower case).
bool Matches(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    return pattern.find_first_not_of('*', p) == std::string::npos;
}

bool IsBypassed(const std::string& bypass, const std::string& host) {
    if (host == "localhost" || host == "[::1]" || Matches("127.*", host)) {
        return true;
    }
    const bool dotless = host.find_first_of(".:") == std::string::npos;
    for (const std::string& entry : Entries(bypass)) {
        if ((entry == "<local>" && dotless) || Matches(entry, host)) {
            return true;
        }
    }
    return false;
}

std::string AsProxyAddress(const std::string& server, const char* defaultScheme) {
    return server.find("://") == std::string::npos ? defaultScheme + server : server;
}

}  // namespace

std::string ProxyForRequest(const SystemProxy& proxy, const std::string& scheme,
                            const std::string& host) {
    std::string lowerHost = host;
    std::transform(lowerHost.begin(), lowerHost.end(), lowerHost.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (IsBypassed(proxy.bypass, lowerHost)) {
        return "";
    }
    std::string forAll, socks;
    for (const std::string& entry : Entries(proxy.servers)) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) {
            forAll = entry;
        } else if (entry.compare(0, equals, scheme) == 0 && equals + 1 < entry.size()) {
            return AsProxyAddress(entry.substr(equals + 1), "http://");
        } else if (entry.compare(0, equals, "socks") == 0 && equals + 1 < entry.size()) {
            socks = entry.substr(equals + 1);
        }
    }
    if (!forAll.empty()) {
        return AsProxyAddress(forAll, "http://");
    }
    return socks.empty() ? "" : AsProxyAddress(socks, "socks4://");
}

}  // namespace orvane::platform

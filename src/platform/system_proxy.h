#pragma once

#include <string>

namespace orvane::platform {

// The current user's proxy settings as the system keeps them, in the system's own words.
// `servers`: one "host:port" for every scheme, or "scheme=host:port" entries ("socks=" for all
// schemes without one of their own), apart by ';' or blanks. `bypass`: the hosts reached
// directly, apart by ';' or blanks, '*' matching any run of characters, "<local>" every host
// name without a dot. Both empty where the system keeps none: on Linux, where the environment's
// http_proxy and no_proxy are the way, read by the client library itself.
struct SystemProxy {
    std::string servers;
    std::string bypass;
};

SystemProxy GetSystemProxy();

// The proxy for a request to scheme://host under `proxy`, as the client library names one
// ("http://host:port", "socks4://host:port"), or "" when the request goes direct: no entry
// serves the scheme, or the host is bypassed (the loopback names always are).
std::string ProxyForRequest(const SystemProxy& proxy, const std::string& scheme,
                            const std::string& host);

}  // namespace orvane::platform

#include "platform/system_proxy.h"

#include <gtest/gtest.h>

namespace orvane::platform {
namespace {

// Catches a scheme served by another scheme's entry (or by none where one applies to all), a
// lost or wrong default scheme on the proxy's address, a bypass list whose wildcards, "<local>"
// or letter case are misread, and a loopback request sent to the proxy.
TEST(SystemProxyTest, ProxyForEachSchemeAndHost) {
    struct Case {
        const char* servers;
        const char* bypass;
        const char* scheme;
        const char* host;
        const char* proxy;
    } cases[] = {
        {"", "", "https", "up.example.com", ""},
        {"proxy:8080", "", "https", "up.example.com", "http://proxy:8080"},
        {"http=h:8080;https=h:8443", "", "https", "up.example.com", "http://h:8443"},
        {"http=h:8080;https=h:8443", "", "http", "up.example.com", "http://h:8080"},
        {"http=h:8080", "", "https", "up.example.com", ""},
        {"https=", "", "https", "up.example.com", ""},
        {"http=h:8080 socks=s:1080", "", "https", "up.example.com", "socks4://s:1080"},
        {"socks=s:1080; https=h:8443", "", "https", "up.example.com", "http://h:8443"},
        {"HTTPS=https://H:8443", "", "https", "up.example.com", "https://h:8443"},
        {"proxy:8080", "<local>", "http", "mirror", ""},
        {"proxy:8080", "<local>", "http", "mirror.site", "http://proxy:8080"},
        {"proxy:8080", "*.site.lan; 10.*", "https", "FW.Site.LAN", ""},
        {"proxy:8080", "*.site.lan; 10.*", "http", "10.1.2.3", ""},
        {"proxy:8080", "*.site.lan; 10.*", "http", "site.lan", "http://proxy:8080"},
        {"proxy:8080", "*.site.lan; 10.*", "http", "110.1.2.3", "http://proxy:8080"},
        {"proxy:8080", "up*com", "https", "up.example.com", ""},
        {"proxy:8080", "", "http", "127.0.0.1", ""},
        {"proxy:8080", "", "http", "LocalHost", ""},
        {"proxy:8080", "", "http", "[::1]", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.servers) + " | " + c.bypass + " | " + c.host);
        EXPECT_EQ(ProxyForRequest(SystemProxy{c.servers, c.bypass}, c.scheme, c.host), c.proxy);
    }
}

}  // namespace
}  // namespace orvane::platform

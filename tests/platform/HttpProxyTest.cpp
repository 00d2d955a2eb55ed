// PROXY_SERVER and PROXY_BYPASS as the HTTP layer takes them: what parses, and which hosts go
// through the fixed server.
#include "platform/HttpProxy.h"

#include <gtest/gtest.h>

namespace {

struct ProxyTextCase {
    const char* pszServer;
    const char* pszBypass;
    bool bParses;
    plat::HttpProxy::EMode nMode;
    const char* pszHost; // a host to ask ProxyFor about
    bool bThrough;       // ProxyFor's answer for it
};

TEST(HttpProxyTest, ServerTextAndBypassList) {
    using P = plat::HttpProxy;
    const ProxyTextCase cases[] = {
        {"", "", true, P::kSystem, "updates.example.com", false},
        {" direct ", "", true, P::kDirect, "updates.example.com", false},
        {"proxy.corp:3128", "", true, P::kServer, "127.0.0.1", true},
        {"[::1]:8080", "", true, P::kServer, "localhost", true},
        {"proxy.corp:3128", "*.corp.example; updates.example.com ,.lan", true, P::kServer,
         "a.b.corp.example", false},
        {"proxy.corp:3128", "*.corp.example; UPDATES.example.com ,.lan", true, P::kServer,
         "updates.example.com", false},
        {"proxy.corp:3128", "*.corp.example;.lan", true, P::kServer, "nas.lan", false},
        {"proxy.corp:3128", "*.corp.example", true, P::kServer, "corp.example.org", true},
        {"proxy.corp", "", false, P::kSystem, "updates.example.com", false},
        {"proxy.corp:0", "", false, P::kSystem, "updates.example.com", false},
        {"proxy.corp:65536", "", false, P::kSystem, "updates.example.com", false},
        {"http://proxy.corp:3128", "", false, P::kSystem, "updates.example.com", false},
        {"user@proxy.corp:3128", "", false, P::kSystem, "updates.example.com", false},
        {"proxy corp:3128", "", false, P::kSystem, "updates.example.com", false},
        {"::1:8080", "", false, P::kSystem, "updates.example.com", false},
    };
    for (const ProxyTextCase& c : cases) {
        plat::HttpProxy proxy;
        EXPECT_EQ(plat::ParseHttpProxy(c.pszServer, c.pszBypass, proxy), c.bParses) << c.pszServer;
        EXPECT_EQ(proxy.nMode, c.nMode) << c.pszServer;
        EXPECT_EQ(plat::ProxyFor(proxy, c.pszHost), c.bThrough)
            << c.pszServer << " / " << c.pszBypass << " / " << c.pszHost;
    }
}

} // namespace

// The proxy a run uses, from the settings and the policy (PROXY_SERVER, PROXY_BYPASS,
// PROXY_USER, PROXY_PASSWORD) and the password kept for the machine (platform/Secret.h).
#pragma once

#include "platform/HttpProxy.h"

#include <string>

class CSyncConfig;

class CProxySettings {
public:
    explicit CProxySettings(const CSyncConfig& config) : m_config(config) {}
    // The proxy for the HTTP layer. A PROXY_SERVER that does not parse is logged (level 3)
    // and the system's settings are used. The password: the policy's where it may carry one,
    // else the machine-protected file (ProxyPasswordPath), else none.
    plat::HttpProxy Proxy() const;

private:
    const CSyncConfig& m_config;
};

// "<program folder>/config/proxy-password.bin": the password protected for the machine.
std::string ProxyPasswordPath(const std::string& programDir);

// How a log line names the proxy that a request to host takes: "proxy 10.0.0.1:3128", or
// "the system's proxy".
std::string ProxyName(const plat::HttpProxy& proxy, const std::string& host);

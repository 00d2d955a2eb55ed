#include "config/ProxySettings.h"

#include "app/ProgramDir.h"
#include "config/ConfigKeys.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "platform/Path.h"
#include "platform/Secret.h"

// The elevated copy of a run may run under another account (an administrator's) than the
// user's. With PROXY_SERVER set, every account takes the same proxy and the password comes
// from the machine-protected file, so that account changes nothing. With the system's
// settings WinINet reads the per-user settings of the account the process runs under: the
// elevated copy uses that account's proxy configuration, not the user's. The settings are not
// carried over from the user's account on purpose (a process cannot read another account's
// settings reliably, and a proxy that must hold for every account belongs in PROXY_SERVER,
// which the policy can set).
plat::HttpProxy CProxySettings::Proxy() const {
    plat::HttpProxy proxy;
    if (!plat::ParseHttpProxy(m_config.m_strProxyServer, m_config.m_strProxyBypass, proxy)) {
        WriteLog(g_pMyLog, 3,
                 "CSyncConfig::LoadConfig> %s = \"%s\" ignored, not host:port or DIRECT; the "
                 "system's proxy settings are used",
                 kKeyProxyServer, m_config.m_strProxyServer.c_str());
        return proxy;
    }
    proxy.strUser = m_config.m_strProxyUser;
    if (proxy.strUser.empty())
        return proxy;
    proxy.strPassword = m_config.m_strProxyPassword;
    if (proxy.strPassword.empty() &&
        plat::UnprotectSecret(ProxyPasswordPath(m_config.m_strLocalBaseDir), proxy.strPassword) !=
            0)
        WriteLog(g_pMyLog, 1, "CSyncConfig::LoadConfig> No proxy password is kept for %s = %s",
                 kKeyProxyUser, proxy.strUser.c_str());
    return proxy;
}

std::string ProxyPasswordPath(const std::string& programDir) {
    return plat::JoinPath(plat::JoinPath(programDir, g_pszConfigFolder), "proxy-password.bin");
}

std::string ProxyName(const plat::HttpProxy& proxy, const std::string& host) {
    if (plat::ProxyFor(proxy, host))
        return "proxy " + plat::ProxyServerText(proxy);
    return "the system's proxy";
}

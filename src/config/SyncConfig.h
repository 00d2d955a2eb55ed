// The settings record: where the download server is, which tree and list file to fetch, the
// time tolerance and the shortcut-name suffix. Stored in section "VENTO" of
// "<program folder>/config/KestrelSync.ini". The policy (config/PolicySource.h) takes
// precedence over the file for the keys it sets.
#pragma once

#include "platform/HttpProxy.h"
#include "platform/PolicyStore.h"

#include <cstdint>
#include <map>
#include <string>

class CSyncConfig {
public:
    // Stores the paths and loads the settings (missing file or keys give the defaults).
    // strPolicyLocation: where the policy is read (CPolicySource); the real one by default.
    explicit CSyncConfig(const std::string& strIniPath,
                         const std::string& strPolicyLocation = plat::DefaultPolicyLocation());
    virtual ~CSyncConfig() = default;
    CSyncConfig(const CSyncConfig&) = default;
    CSyncConfig& operator=(const CSyncConfig&) = default;

    // The settings file, then the policy over it.
    void LoadConfig();
    // Writes the six keys, except those the policy sets (the file keeps its own value for
    // them); failures are not reported (the values stay in force in memory).
    void SaveConfig() const;
    // True when the value of key came from policy.
    bool IsFromPolicy(const std::string& key) const { return m_mapPolicyValues.count(key) != 0; }
    // 1 when usable; else -1 no list file, -2 port 0, -3 no server, -4 no base path (the first
    // failing check, in that order).
    int CheckConfig() const;

    std::string m_strIniPath;
    std::string m_strPolicyLocation;
    // The keys whose values came from policy, with the values taken.
    std::map<std::string, std::string> m_mapPolicyValues;
    std::string m_strListFileName;
    int m_nServerPort = 0;
    std::string m_strServerIp;
    std::string m_strLocalBaseDir; // always the program folder
    std::string m_strDownloadBaseUrl;
    std::string m_strLinkAppendName;
    int m_nTimeCheckSpan = 5;
    // "USE_HTTPS" = "1": every request over HTTPS, the server's certificate checked against
    // the system's trusted roots and the host name. Read only; no dialog field writes it.
    bool m_bUseHttps = false;
    // "RETRY_COUNT": how often a transfer that failed for a transient reason is tried again
    // in trusted mode (0 to 10; 3 when the key is missing).
    int m_nRetryCount = 3;
    // "CONNECTIONS": how many keep-alive connections the download loop uses at once, 1 to 8
    // (1, the default, is one connection for the whole run). m_strConnections is the text as
    // written; values outside the range are clamped (0 and text mean 1).
    int m_nConnections = 1;
    std::string m_strConnections;
    // "ROLLOUT_GROUP": the group of a phased release this workstation is in, 0 to 6 (pilot and
    // test machines); -1 when the key is missing or not one digit of that range (the group
    // then comes from the workstation's identifier). m_strRolloutGroup is the text as written.
    int m_nRolloutGroup = -1;
    std::string m_strRolloutGroup;
    // "REPORT" = "1": every run ends with one report request to the download server.
    bool m_bReport = false;
    // "START_ON_SERVER_FAILURE" = "1": when the list cannot be had and the installation is
    // whole, the application starts after 3 seconds instead of the user being asked to retry.
    bool m_bStartOnServerFailure = false;
    // "PROXY_SERVER" ("host:port" or "DIRECT"), "PROXY_BYPASS" (hosts separated by ";" or
    // ","), "PROXY_USER" as written; m_strProxyPassword from the policy's "PROXY_PASSWORD"
    // where the policy may carry it. m_proxy is what the HTTP layer is given
    // (config/ProxySettings.h); the system's settings when the keys are unset.
    std::string m_strProxyServer;
    std::string m_strProxyBypass;
    std::string m_strProxyUser;
    std::string m_strProxyPassword;
    plat::HttpProxy m_proxy;
    // "MIRRORS": servers that serve the same paths below a base of their own, asked in their
    // order when the configured server cannot serve ("host:port[/base]" separated by ";";
    // transfer/ServerList.h).
    std::string m_strMirrors;
    // "LOCAL_STORE": a folder holding a copy of the release store, taken before the servers in
    // trusted mode (transfer/LocalStore.h); empty: none.
    std::string m_strLocalStore;
};

inline constexpr const char* kConfigSection = "VENTO";
inline constexpr const char* kConfigFileName = "KestrelSync.ini";
// Defaults of the keys.
inline constexpr const char* kDefaultServerIp = "127.0.0.1";
inline constexpr const char* kDefaultServerPort = "80";
inline constexpr const char* kDefaultDownloadBaseUrl = "lumen/version/forge/prod/master";
inline constexpr const char* kDefaultListFileName = "_listfile.txt";
inline constexpr const char* kDefaultTimeCheckSpan = "5";

// "LIST_SERIAL": the highest serial of a signed list accepted so far (0 when none). Written
// only after a list was verified; read from the file each time, so that every process of the
// chain sees the last one.
std::int64_t ReadListSerial(const std::string& strIniPath);
bool WriteListSerial(const std::string& strIniPath, std::int64_t nSerial);

// "RELEASE_SERIAL": the serial of the signed list whose files the last complete run installed
// (0 when none did): the release this workstation has.
std::int64_t ReadReleaseSerial(const std::string& strIniPath);
bool WriteReleaseSerial(const std::string& strIniPath, std::int64_t nSerial);

// One level-2 line per key config took from policy, in the order of the policy table, for the
// start of a run: "CSyncEngine::LoadPolicy> SVR_IP_ADDR = 10.0.0.5 (policy)".
void LogPolicyValues(const CSyncConfig& config);

// Path of the settings file under the program folder.
std::string ConfigFilePath(const std::string& programDir);

// The integer of a text as atoi reads it: leading blanks, an optional sign, digits up to the
// first non-digit; 0 when no digit comes first. Out-of-range values saturate.
int AtoiValue(const std::string& text);

// Derived shortcut names (each at most kLinkNameMax bytes, cut at a character boundary):
// the suffix, and the application and emergency names followed by a blank and the suffix
// when it is not empty.
inline constexpr std::size_t kLinkNameMax = 511;
extern std::string g_szLinkAppendName;
extern std::string g_szAppDisplayName;
extern std::string g_szEmergencyLinkName;
void UpdateLinkNames(const CSyncConfig& config);

// True when a file or folder of that name exists.
bool IsFileExist(const std::string& path);

#include "config/SyncConfig.h"

#include "app/ProgramDir.h"
#include "config/ConfigKeys.h"
#include "config/PolicySource.h"
#include "config/ProxySettings.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/ProfileFile.h"
#include "platform/Text.h"

#include <algorithm>
#include <climits>
#include <cstdint>

std::string g_szLinkAppendName;
std::string g_szAppDisplayName;
std::string g_szEmergencyLinkName;

namespace {

// Values are read as a 128-byte buffer holds them.
constexpr std::size_t kValueBuffer = 128;
constexpr std::size_t kListValueBuffer = 1024;

std::string CutName(const std::string& name) {
    return name.substr(0, plat::Utf8FitLength(name, kLinkNameMax));
}

std::string WithSuffix(const char* base, const std::string& suffix) {
    return CutName(suffix.empty() ? std::string(base) : std::string(base) + " " + suffix);
}

} // namespace

CSyncConfig::CSyncConfig(const std::string& strIniPath, const std::string& strPolicyLocation)
    : m_strIniPath(strIniPath), m_strPolicyLocation(strPolicyLocation) {
    LoadConfig();
}

void CSyncConfig::LoadConfig() {
    auto read = [this](const char* key, const char* def) {
        return plat::ReadProfileString(m_strIniPath, kConfigSection, key, def, kValueBuffer);
    };
    m_strServerIp = read(kKeyServerIp, kDefaultServerIp);
    m_nServerPort = AtoiValue(read(kKeyServerPort, kDefaultServerPort));
    m_strDownloadBaseUrl = read(kKeyDownloadBaseUrl, kDefaultDownloadBaseUrl);
    m_strListFileName = read(kKeyListFileName, kDefaultListFileName);
    // The whole program folder, however long: a shortened one would be another folder.
    m_strLocalBaseDir = g_szProgramDir;
    m_strLinkAppendName = read(kKeyLinkAppendName, "");
    m_nTimeCheckSpan = AtoiValue(read(kKeyTimeCheckSpan, kDefaultTimeCheckSpan));
    m_bUseHttps = read(kKeyUseHttps, "") == "1";
    m_nRetryCount = std::min(std::max(AtoiValue(read(kKeyRetryCount, "3")), 0), 10);
    m_strConnections = read(kKeyConnections, "");
    m_nConnections = std::min(std::max(AtoiValue(m_strConnections), 1), 8);
    const std::string group = read(kKeyRolloutGroup, "");
    m_nRolloutGroup = group.size() == 1 && group[0] >= '0' && group[0] <= '6' ? group[0] - '0' : -1;
    m_strRolloutGroup = group;
    m_bReport = read(kKeyReport, "") == "1";
    m_bStartOnServerFailure = read(kKeyStartOnServerFailure, "") == "1";
    m_strProxyServer = read(kKeyProxyServer, "");
    m_strProxyBypass = read(kKeyProxyBypass, "");
    m_strProxyUser = read(kKeyProxyUser, "");
    m_strProxyPassword.clear();
    // Several servers' names: more than one value's room.
    m_strMirrors =
        plat::ReadProfileString(m_strIniPath, kConfigSection, kKeyMirrors, "", kListValueBuffer);
    m_strLocalStore =
        plat::ReadProfileString(m_strIniPath, kConfigSection, kKeyLocalStore, "", kListValueBuffer);
    CPolicySource(m_strPolicyLocation).Apply(*this);
    m_proxy = CProxySettings(*this).Proxy();
}

namespace {

std::int64_t ReadSerial(const std::string& strIniPath, const char* key) {
    const std::string text =
        plat::ReadProfileString(strIniPath, kConfigSection, key, "0", kValueBuffer);
    std::int64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || n > (INT64_MAX - 9) / 10)
            return n;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

std::int64_t ReadListSerial(const std::string& strIniPath) {
    return ReadSerial(strIniPath, kKeyListSerial);
}

bool WriteListSerial(const std::string& strIniPath, std::int64_t nSerial) {
    return plat::WriteProfileString(strIniPath, kConfigSection, kKeyListSerial,
                                    std::to_string(nSerial));
}

std::int64_t ReadReleaseSerial(const std::string& strIniPath) {
    return ReadSerial(strIniPath, kKeyReleaseSerial);
}

bool WriteReleaseSerial(const std::string& strIniPath, std::int64_t nSerial) {
    return plat::WriteProfileString(strIniPath, kConfigSection, kKeyReleaseSerial,
                                    std::to_string(nSerial));
}

void CSyncConfig::SaveConfig() const {
    auto write = [this](const char* key, const std::string& value) {
        if (!IsFromPolicy(key))
            plat::WriteProfileString(m_strIniPath, kConfigSection, key, value);
    };
    write(kKeyServerIp, m_strServerIp);
    write(kKeyServerPort, std::to_string(m_nServerPort));
    write(kKeyDownloadBaseUrl, m_strDownloadBaseUrl);
    write(kKeyListFileName, m_strListFileName);
    write(kKeyLinkAppendName, m_strLinkAppendName);
    write(kKeyTimeCheckSpan, std::to_string(m_nTimeCheckSpan));
}

int CSyncConfig::CheckConfig() const {
    if (m_strListFileName.empty())
        return -1;
    if (m_nServerPort == 0)
        return -2;
    if (m_strServerIp.empty())
        return -3;
    if (m_strDownloadBaseUrl.empty())
        return -4;
    return 1;
}

std::string ConfigFilePath(const std::string& programDir) {
    return plat::JoinPath(plat::JoinPath(programDir, g_pszConfigFolder), kConfigFileName);
}

int AtoiValue(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool bNegative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        bNegative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<std::int64_t>(INT_MAX) + 1)
            value = static_cast<std::int64_t>(INT_MAX) + 1;
    }
    if (bNegative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

void UpdateLinkNames(const CSyncConfig& config) {
    g_szLinkAppendName = CutName(config.m_strLinkAppendName);
    g_szAppDisplayName = WithSuffix(g_pszAppName, g_szLinkAppendName);
    g_szEmergencyLinkName = WithSuffix(g_pszEmergencyName, g_szLinkAppendName);
}

bool IsFileExist(const std::string& path) {
    plat::FileStatus status;
    return plat::GetFileStatus(path, status);
}

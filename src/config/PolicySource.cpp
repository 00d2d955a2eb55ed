#include "config/PolicySource.h"

#include "config/ConfigKeys.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"

#include <climits>
#include <cstdint>
#include <map>
#include <utility>

namespace {

// One key policy may set. A number must be whole decimal text within [nMin, nMax]; a text
// must not be empty. pfnApply stores the value (its text and, for a number, the number).
struct CPolicyKey {
    const char* pszKey;
    bool bNumber;
    int nMin;
    int nMax;
    void (*pfnApply)(CSyncConfig& config, const std::string& strText, int nValue);
};

using C = CSyncConfig;
using S = const std::string&;

// clang-format off
const CPolicyKey kPolicyKeys[] = {
    {kKeyServerIp, false, 0, 0, [](C& c, S s, int) { c.m_strServerIp = s; }},
    {kKeyServerPort, true, 1, 65535, [](C& c, S, int n) { c.m_nServerPort = n; }},
    {kKeyDownloadBaseUrl, false, 0, 0, [](C& c, S s, int) { c.m_strDownloadBaseUrl = s; }},
    {kKeyListFileName, false, 0, 0, [](C& c, S s, int) { c.m_strListFileName = s; }},
    {kKeyTimeCheckSpan, true, 0, INT_MAX, [](C& c, S, int n) { c.m_nTimeCheckSpan = n; }},
    {kKeyUseHttps, true, 0, 1, [](C& c, S, int n) { c.m_bUseHttps = n == 1; }},
    {kKeyConnections, true, 1, 8, [](C& c, S s, int n) { c.m_nConnections = n; c.m_strConnections = s; }},
    {kKeyRetryCount, true, 0, 10, [](C& c, S, int n) { c.m_nRetryCount = n; }},
    {kKeyRolloutGroup, true, 0, 6, [](C& c, S s, int n) { c.m_nRolloutGroup = n; c.m_strRolloutGroup = s; }},
    {kKeyReport, true, 0, 1, [](C& c, S, int n) { c.m_bReport = n == 1; }},
    {kKeyStartOnServerFailure, true, 0, 1, [](C& c, S, int n) { c.m_bStartOnServerFailure = n == 1; }},
    {kKeyProxyServer, false, 0, 0, [](C& c, S s, int) { c.m_strProxyServer = s; }},
    {kKeyProxyBypass, false, 0, 0, [](C& c, S s, int) { c.m_strProxyBypass = s; }},
    {kKeyProxyUser, false, 0, 0, [](C& c, S s, int) { c.m_strProxyUser = s; }},
    {kKeyMirrors, false, 0, 0, [](C& c, S s, int) { c.m_strMirrors = s; }},
    {kKeyLocalStore, false, 0, 0, [](C& c, S s, int) { c.m_strLocalStore = s; }},
};
// clang-format on

// Blanks around a value do not count, as in the settings file.
std::string Trimmed(const std::string& text) {
    const char* const kBlanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The number of whole decimal text (an optional sign, then 1 to 18 digits); false otherwise.
bool ParseWhole(const std::string& text, std::int64_t& n) {
    std::size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
    if (i == text.size() || text.size() - i > 18)
        return false;
    n = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        n = n * 10 + (text[i] - '0');
    }
    if (text[0] == '-')
        n = -n;
    return true;
}

// Why the text cannot be taken for key, or empty when it can (nValue then set).
std::string Refusal(const CPolicyKey& key, const std::string& text, int& nValue) {
    if (!key.bNumber)
        return text.empty() ? "empty" : std::string();
    std::int64_t n = 0;
    if (!ParseWhole(text, n))
        return "not a whole number";
    if (n < key.nMin || n > key.nMax)
        return "not within " + std::to_string(key.nMin) + "-" + std::to_string(key.nMax);
    nValue = static_cast<int>(n);
    return std::string();
}

void ApplyValue(const CPolicyKey& key, const plat::PolicyValue& value, CSyncConfig& config) {
    if (!value.bUsable) {
        WriteLog(g_pMyLog, 3,
                 "CSyncConfig::LoadPolicy> %s = (%s value) ignored, not REG_SZ or REG_DWORD; "
                 "the settings file's value is used",
                 key.pszKey, value.strType.c_str());
        return;
    }
    const std::string text = Trimmed(value.strText);
    int nValue = 0;
    const std::string why = Refusal(key, text, nValue);
    if (!why.empty()) {
        WriteLog(g_pMyLog, 3,
                 "CSyncConfig::LoadPolicy> %s = \"%s\" ignored, %s; the settings file's value "
                 "is used",
                 key.pszKey, value.strText.c_str(), why.c_str());
        return;
    }
    key.pfnApply(config, text, nValue);
    config.m_mapPolicyValues[key.pszKey] = text;
}

// The password is no key of the table: it is never logged, and it is taken only from a store
// that no other account can read.
void ApplyProxyPassword(const std::string& location,
                        const std::map<std::string, plat::PolicyValue>& values,
                        CSyncConfig& config) {
    const auto found = values.find(kKeyProxyPassword);
    if (found == values.end() || !found->second.bUsable || found->second.strText.empty())
        return;
    if (plat::PolicyReadableByOthers(location)) {
        WriteLog(g_pMyLog, 3,
                 "CSyncConfig::LoadPolicy> %s ignored, the policy %s can be read by other "
                 "accounts; no proxy password is used",
                 kKeyProxyPassword, location.c_str());
        return;
    }
    config.m_strProxyPassword = found->second.strText;
}

} // namespace

CPolicySource::CPolicySource(std::string strLocation) : m_strLocation(std::move(strLocation)) {}

void CPolicySource::Apply(CSyncConfig& config) const {
    config.m_mapPolicyValues.clear();
    std::map<std::string, plat::PolicyValue> values;
    std::vector<std::string> names = PolicyKeyNames();
    names.emplace_back(kKeyProxyPassword);
    if (plat::ReadPolicyValues(m_strLocation, names, values) < 0) {
        WriteLog(g_pMyLog, 3,
                 "CSyncConfig::LoadPolicy> Can't read the policy %s, ErrCode = %d; the settings "
                 "file's values are used",
                 m_strLocation.c_str(), plat::LastErrorCode());
        return;
    }
    for (const CPolicyKey& key : kPolicyKeys) {
        const auto found = values.find(key.pszKey);
        if (found != values.end())
            ApplyValue(key, found->second, config);
    }
    ApplyProxyPassword(m_strLocation, values, config);
}

std::vector<std::string> PolicyKeyNames() {
    std::vector<std::string> names;
    for (const CPolicyKey& key : kPolicyKeys)
        names.emplace_back(key.pszKey);
    return names;
}

void LogPolicyValues(const CSyncConfig& config) {
    for (const CPolicyKey& key : kPolicyKeys) {
        const auto found = config.m_mapPolicyValues.find(key.pszKey);
        if (found != config.m_mapPolicyValues.end())
            WriteLog(g_pMyLog, 2, "CSyncEngine::LoadPolicy> %s = %s (policy)", key.pszKey,
                     found->second.c_str());
    }
}

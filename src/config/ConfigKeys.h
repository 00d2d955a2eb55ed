// The key names of section "VENTO", shared by the settings file and the policy.
#pragma once

inline constexpr const char* kKeyServerIp = "SVR_IP_ADDR";
inline constexpr const char* kKeyServerPort = "SVR_PORT_NO";
inline constexpr const char* kKeyDownloadBaseUrl = "DOWNLOAD_BASE_URL";
inline constexpr const char* kKeyListFileName = "LIST_FILE_NAME";
inline constexpr const char* kKeyLinkAppendName = "LINK_APPEND_NAME";
inline constexpr const char* kKeyTimeCheckSpan = "TIME_CHECK_SPAN";
inline constexpr const char* kKeyUseHttps = "USE_HTTPS";
inline constexpr const char* kKeyRetryCount = "RETRY_COUNT";
inline constexpr const char* kKeyConnections = "CONNECTIONS";
inline constexpr const char* kKeyListSerial = "LIST_SERIAL";
inline constexpr const char* kKeyReleaseSerial = "RELEASE_SERIAL";
inline constexpr const char* kKeyRolloutGroup = "ROLLOUT_GROUP";
inline constexpr const char* kKeyReport = "REPORT";
inline constexpr const char* kKeyStartOnServerFailure = "START_ON_SERVER_FAILURE";
inline constexpr const char* kKeyProxyServer = "PROXY_SERVER";
inline constexpr const char* kKeyProxyBypass = "PROXY_BYPASS";
inline constexpr const char* kKeyProxyUser = "PROXY_USER";
inline constexpr const char* kKeyMirrors = "MIRRORS";
inline constexpr const char* kKeyLocalStore = "LOCAL_STORE";
// Policy only, and only from a store no other account can read (never logged).
inline constexpr const char* kKeyProxyPassword = "PROXY_PASSWORD";

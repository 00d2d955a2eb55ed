// Whole runs through real squid proxies (scripts/serve-squid.sh, started by CTest around the
// suite): an open one and one that asks for Basic authentication, in front of the suite's
// nginx, over HTTP and HTTPS (CONNECT), with the proxy named by PROXY_SERVER.
#include "config/ProxySettings.h"
#include "engine/SyncEngine.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Secret.h"
#include "platform/Thread.h"
#include "support/FakeView.h"
#include "support/LogCapture.h"
#include "support/Nginx.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestMachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string SquidWork() {
    const char* value = std::getenv("KS_SQUID_WORK");
    return value != nullptr ? value : "";
}

std::string SquidFile(const std::string& relative) {
    std::string text = kstest::ReadFileBytes(kstest::HostPath(SquidWork() + "/" + relative));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

enum ECredentials { kNone, kRight, kWrong, kOpenPolicy };

struct ProxyCase {
    const char* pszName;
    const char* pszProxy; // "open" or "auth"
    bool bHttps;
    ECredentials nCredentials;
    int nOutcome;
    const char* pszCause;  // "" when the run succeeds
    const char* pszLogged; // what the proxy logged for the list: "<method> <status>"; "" none
    const char* pszServer; // the server's name or address when not the suite's nginx
    const char* pszRefused = nullptr; // a list line for a file the proxy refuses (403)
};

class ProxyRunTest : public ::testing::TestWithParam<ProxyCase> {
protected:
    kstest::LogCapture log;
    kstest::TestMachine machine;
    kstest::TempDir app;
    kstest::TempDir policyDir;
    kstest::NginxSite site;
    std::unique_ptr<kstest::TrustedTestRoot> root;
    CSyncConfig config{"none.ini"};
    std::string password; // the proxy password the case gives

    void SetUp() override {
        if (!site.Skip().empty())
            GTEST_SKIP() << site.Skip();
        if (SquidWork().empty())
            GTEST_SKIP() << "squid runs only under ctest, which starts it (scripts/serve-squid.sh)";
        if (kstest::Exists(kstest::HostPath(SquidWork() + "/unavailable")))
            GTEST_SKIP() << "squid cannot run here: " << SquidFile("unavailable");
        const ProxyCase& c = GetParam();
        // Names that only the proxies know, one per proxy: the run gets through the proxy or
        // not at all, and Wine, whose WinINet keeps idle connections by server whatever the
        // proxy, cannot hand a run a connection that another test made directly or through
        // the other proxy.
        config.m_strServerIp = c.pszServer != nullptr ? c.pszServer
                               : c.bHttps             ? "otherhost.example"
                                          : std::string(c.pszProxy) + ".kestrel-proxy.test";
        config.m_nServerPort = c.bHttps ? site.Port("otherhost") : site.Port();
        config.m_bUseHttps = c.bHttps;
        config.m_strDownloadBaseUrl = site.Base();
        config.m_strListFileName = "_listfile.txt";
        config.m_strLocalBaseDir = app.Path();
        if (c.bHttps) {
            root = std::make_unique<kstest::TrustedTestRoot>();
            ASSERT_TRUE(root->Ok());
        }
    }

    // The settings of the case, read the way a run reads them; the password as the platform
    // keeps it: the policy file on POSIX, the machine-protected file on Windows.
    void Configure(const ProxyCase& c) {
        const std::string port = SquidFile(std::string("port-") + c.pszProxy);
        config.m_strProxyServer = "127.0.0.1:" + port;
        config.m_strProxyUser = c.nCredentials == kNone ? "" : SquidFile("user");
        password = (c.nCredentials == kWrong ? "not-" : "") + SquidFile("password");
        if (c.nCredentials != kNone) {
#ifdef _WIN32
            ASSERT_TRUE(plat::CreateFolderChain(app / "config"));
            ASSERT_EQ(plat::ProtectSecret(password, ProxyPasswordPath(app.Path())), 0);
#else
            const std::string policy = policyDir / "policy.ini";
            ASSERT_TRUE(
                kstest::WriteFileBytes(policy, "[VENTO]\nPROXY_PASSWORD=" + password + "\n"));
            ASSERT_EQ(::chmod(policy.c_str(), c.nCredentials == kOpenPolicy ? 0644 : 0600), 0);
            CSyncConfig read("none.ini", policy);
            config.m_strProxyPassword = read.m_strProxyPassword;
#endif
        }
        config.m_proxy = CProxySettings(config).Proxy();
    }

    void Serve(const std::string& relative, const std::string& bytes) {
        std::string path = site.ServedPath(relative);
        ASSERT_TRUE(plat::CreateFolderChain(path.substr(0, plat::LastSepPos(path))));
        ASSERT_TRUE(kstest::WriteFileBytes(path, bytes));
    }

    // "<method> <status>" of each request the proxy logged for this test's base.
    std::vector<std::string> ProxyLog(const ProxyCase& c) const {
        std::istringstream text(SquidFile(std::string(c.pszProxy) + "/access.log"));
        const std::string target =
            c.bHttps ? "otherhost.example:" + std::to_string(site.Port("otherhost")) : site.Base();
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            std::istringstream fields(line);
            std::string method, url, status;
            fields >> method >> url >> status;
            if (url.find(target) != std::string::npos)
                lines.push_back(method + " " + status);
        }
        return lines;
    }
};

TEST_P(ProxyRunTest, RunsThroughTheProxy) {
    const ProxyCase& c = GetParam();
    Configure(c);
    Serve("_listfile.txt",
          std::string("bin/a.txt\nb.txt\n") + (c.pszRefused != nullptr ? c.pszRefused : ""));
    Serve("ks-proxy-refused.txt", "refused");
    Serve("bin/a.txt", "first file");
    Serve("b.txt", "second");

    kstest::FakeView view;
    SyncEnginePtr engine(new CSyncEngine);
    engine->m_pDlg = &view;
    if (root != nullptr)
        engine->m_httpTimeouts.strExtraRootsFile = root->ExtraRootsFile();
    ASSERT_EQ(engine->InitSyncEngine(&config), 0);
    ASSERT_EQ(engine->StartSyncThread(), 0);
    engine->m_pSyncThread->Join();

    EXPECT_THAT(view.Outcomes(), ElementsAre(c.nOutcome)) << c.pszName;
    std::string cause, detail;
    EXPECT_EQ(engine->m_runCause.Get(cause, detail) ? cause : "", c.pszCause) << detail;
    // Squid logs a tunnel when it closes: with the engine, and a little later.
    engine.reset();
    std::vector<std::string> logged = ProxyLog(c);
    for (int i = 0; i < 100 && logged.empty() && *c.pszLogged != '\0'; ++i) {
        plat::SleepMs(50);
        logged = ProxyLog(c);
    }
    if (*c.pszLogged != '\0') {
        ASSERT_FALSE(logged.empty()) << "the proxy saw no request of the run";
        EXPECT_EQ(logged.front(), c.pszLogged);
    }
    if (*c.pszCause == '\0') {
        EXPECT_EQ(kstest::ReadFileBytes(plat::JoinPath(app.Path(), "b.txt")), "second");
        // Plain HTTP: every request of the run, HEADs included, went through the proxy (the
        // 407s ask for the credentials that the same request then brings).
        std::size_t nAnswered = 0;
        for (const std::string& line : logged)
            nAnswered += line.find(" 407") == std::string::npos;
        if (!c.bHttps) {
            EXPECT_EQ(nAnswered, 6u); // HEAD+GET of the list, a HEAD and a GET per file
        }
    } else {
        const std::string proxy = "proxy 127.0.0.1:" + SquidFile(std::string("port-") + c.pszProxy);
        EXPECT_FALSE(log.Matching("The proxy refused the request: " + proxy).empty());
        bool bRow = false;
        for (const auto& row : view.Rows())
            bRow = bRow || row.second.find(proxy) != std::string::npos;
        EXPECT_TRUE(bRow) << "no status row names the proxy";
    }
    if (c.nCredentials != kNone) {
        EXPECT_TRUE(log.Matching(password).empty()) << "the password was logged";
    }
}

// The system's proxy settings of the account, for as long as the object lives: the Internet
// settings of the current user on Windows (WinINet's preconfigured proxy), http_proxy on POSIX.
class SystemProxy {
public:
    explicit SystemProxy(const std::string& server) {
#ifdef _WIN32
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &m_hKey, nullptr) != ERROR_SUCCESS)
            return;
        Save(L"ProxyEnable", m_enable);
        Save(L"ProxyServer", m_server);
        const DWORD nOne = 1;
        const std::wstring wide(server.begin(), server.end());
        m_bOk = ::RegSetValueExW(m_hKey, L"ProxyEnable", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&nOne), sizeof nOne) == 0 &&
                ::RegSetValueExW(m_hKey, L"ProxyServer", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(wide.c_str()),
                                 static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == 0;
#else
        m_env = std::make_unique<kstest::ScopedEnv>("http_proxy", "http://" + server);
        m_bOk = true;
#endif
    }
    ~SystemProxy() {
#ifdef _WIN32
        if (m_hKey == nullptr)
            return;
        Restore(L"ProxyEnable", m_enable);
        Restore(L"ProxyServer", m_server);
        ::RegCloseKey(m_hKey);
#endif
    }
    SystemProxy(const SystemProxy&) = delete;
    SystemProxy& operator=(const SystemProxy&) = delete;
    bool Ok() const {
        return m_bOk;
    }

private:
    bool m_bOk = false;
#ifdef _WIN32
    struct Saved {
        bool bHad = false;
        DWORD nType = 0;
        std::vector<BYTE> bytes;
    };
    static constexpr const wchar_t* kKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    void Save(const wchar_t* name, Saved& saved) {
        DWORD nSize = 0;
        if (::RegQueryValueExW(m_hKey, name, nullptr, &saved.nType, nullptr, &nSize) != 0)
            return;
        saved.bytes.resize(nSize);
        saved.bHad = ::RegQueryValueExW(m_hKey, name, nullptr, &saved.nType, saved.bytes.data(),
                                        &nSize) == 0;
    }
    void Restore(const wchar_t* name, const Saved& saved) {
        if (saved.bHad)
            ::RegSetValueExW(m_hKey, name, 0, saved.nType, saved.bytes.data(),
                             static_cast<DWORD>(saved.bytes.size()));
        else
            ::RegDeleteValueW(m_hKey, name);
    }
    HKEY m_hKey = nullptr;
    Saved m_enable;
    Saved m_server;
#else
    std::unique_ptr<kstest::ScopedEnv> m_env;
#endif
};

// Without PROXY_SERVER the system's proxy carries the run: the server's name is known to the
// proxy only, so the run gets its files through the proxy or not at all.
TEST(ProxySystemRunTest, SystemSettingsCarryTheRun) {
    kstest::LogCapture log;
    kstest::TestMachine machine;
    kstest::TempDir app;
    kstest::NginxSite site;
    if (!site.Skip().empty())
        GTEST_SKIP() << site.Skip();
    if (SquidWork().empty() || kstest::Exists(kstest::HostPath(SquidWork() + "/unavailable")))
        GTEST_SKIP() << "squid is not running (scripts/serve-squid.sh)";
    const SystemProxy system("127.0.0.1:" + SquidFile("port-open"));
    ASSERT_TRUE(system.Ok());
    const std::string list = site.ServedPath("_listfile.txt");
    ASSERT_TRUE(plat::CreateFolderChain(list.substr(0, plat::LastSepPos(list))));
    ASSERT_TRUE(kstest::WriteFileBytes(list, "b.txt\n"));
    ASSERT_TRUE(kstest::WriteFileBytes(site.ServedPath("b.txt"), "through the system's proxy"));
    CSyncConfig config{"none.ini"};
    config.m_strServerIp = "kestrel-proxy.test";
    config.m_nServerPort = site.Port();
    config.m_strDownloadBaseUrl = site.Base();
    config.m_strListFileName = "_listfile.txt";
    config.m_strLocalBaseDir = app.Path();

    kstest::FakeView view;
    SyncEnginePtr engine(new CSyncEngine);
    engine->m_pDlg = &view;
    ASSERT_EQ(engine->InitSyncEngine(&config), 0);
    ASSERT_EQ(engine->StartSyncThread(), 0);
    engine->m_pSyncThread->Join();
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneComplete));
    EXPECT_EQ(kstest::ReadFileBytes(plat::JoinPath(app.Path(), "b.txt")),
              "through the system's proxy");
}

const ProxyCase kProxyCases[] = {
    {"Open", "open", false, kNone, kSyncDoneComplete, "", "HEAD 200", nullptr},
    {"NoCredentials", "auth", false, kNone, kSyncDoneNoList, "proxy-auth", "HEAD 407", nullptr},
    {"Basic", "auth", false, kRight, kSyncDoneComplete, "", "HEAD 407", nullptr},
    // A password the proxy does not take: its challenge is answered again at most once.
    {"WrongPassword", "auth", false, kWrong, kSyncDoneNoList, "proxy-auth", "HEAD 407", nullptr},
    // Squid refuses servers other than loopback (403); nothing answers on the closed port.
    {"Refused", "open", false, kNone, kSyncDoneNoList, "proxy", "HEAD 403", "192.0.2.1"},
    {"NoAnswer", "closed", false, kNone, kSyncDoneNoList, "proxy", "", nullptr},
    // A file the proxy refuses in the middle of the run: its HEAD, or its GET when the list
    // gives its time and size.
    {"FileHeadRefused", "open", false, kNone, kSyncDoneDeclined, "proxy", "HEAD 200", nullptr,
     "ks-proxy-refused.txt\n"},
    {"FileGetRefused", "open", false, kNone, kSyncDoneDeclined, "proxy", "HEAD 200", nullptr,
     "ks-proxy-refused.txt,ks-proxy-refused.txt,APP,FILE,20251206144640,7\n"},
    {"HttpsNoCredentials", "auth", true, kNone, kSyncDoneNoList, "proxy-auth", "CONNECT 407",
     nullptr},
    {"HttpsBasic", "auth", true, kRight, kSyncDoneComplete, "", "CONNECT 407", nullptr},
#ifndef _WIN32
    // Wine keeps a tunnel open for a while after its session is closed, keyed by the server
    // without the proxy: this run would take over HttpsBasic's tunnel through the other proxy.
    {"HttpsTunnel", "open", true, kNone, kSyncDoneComplete, "", "CONNECT 200", nullptr},
    // A password in a policy file that other accounts can read is not used.
    {"PolicyReadable", "auth", false, kOpenPolicy, kSyncDoneNoList, "proxy-auth", "HEAD 407",
     nullptr},
#endif
};

std::string CaseName(const ::testing::TestParamInfo<ProxyCase>& param) {
    return param.param.pszName;
}

INSTANTIATE_TEST_SUITE_P(Squid, ProxyRunTest, ::testing::ValuesIn(kProxyCases), CaseName);

} // namespace

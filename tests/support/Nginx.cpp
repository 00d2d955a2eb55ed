#include "support/Nginx.h"

#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>

#ifdef _WIN32
#include <windows.h>

#include <wincrypt.h>
#endif

namespace kstest {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

std::string HostPath(std::string path) {
#ifdef _WIN32
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return "Z:" + path;
#else
    return path;
#endif
}

NginxSite::NginxSite() : m_strWork(Env("KS_NGINX_WORK")), m_strRoot(Env("KS_NGINX_ROOT")) {
    static std::atomic<int> counter{0};
    m_strBase = "run" + std::to_string(counter++) + "-" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::string NginxSite::Skip() const {
    if (m_strWork.empty())
        return "nginx runs only under ctest, which starts it (scripts/serve-nginx.sh)";
    if (Exists(HostPath(m_strWork + "/unavailable")))
        return "nginx is not installed here; scripts/setup.sh installs it";
    return std::string();
}

int NginxSite::Port(const std::string& name) const {
    const std::string file = name.empty() ? "/port" : "/port-" + name;
    return std::atoi(ReadFileBytes(HostPath(m_strWork + file)).c_str());
}

std::string NginxSite::ServedPath(const std::string& relative) const {
    return HostPath(m_strRoot + "/" + m_strBase + "/" + relative);
}

std::vector<AccessLine> NginxSite::Requests() const {
    std::istringstream text(ReadFileBytes(HostPath(m_strWork + "/access.log")));
    std::vector<AccessLine> lines;
    for (std::string line; std::getline(text, line);) {
        std::istringstream fields(line);
        AccessLine entry;
        std::string number;
        fields >> entry.connection >> number >> entry.method >> entry.uri;
        if (entry.uri.find("/" + m_strBase + "/") != std::string::npos)
            lines.push_back(entry);
    }
    return lines;
}

std::string PkiPath(const std::string& relative) {
    const std::string dir = Env("KS_PKI_DIR");
    return dir.empty() ? std::string() : HostPath(dir + "/" + relative);
}

std::string TrustedTestRoot::ExtraRootsFile() const {
#ifdef _WIN32
    return std::string();
#else
    return PkiPath("ca.pem");
#endif
}

#ifdef _WIN32

namespace {

std::vector<BYTE> CaDer() {
    const std::string pem = ReadFileBytes(PkiPath("ca.pem"));
    DWORD size = 0;
    if (pem.empty() ||
        !::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

// Adds (bAdd) or removes the tests' authority in the current user's root store.
bool ChangeRootStore(bool bAdd) {
    const std::vector<BYTE> der = CaDer();
    HCERTSTORE store = ::CertOpenSystemStoreW(0, L"ROOT");
    if (der.empty() || store == nullptr)
        return false;
    PCCERT_CONTEXT added = nullptr;
    bool bOk = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                  static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, &added) != 0;
    if (bOk && !bAdd)
        bOk = ::CertDeleteCertificateFromStore(added) != 0; // frees the context
    else if (added != nullptr)
        ::CertFreeCertificateContext(added);
    ::CertCloseStore(store, 0);
    return bOk;
}

} // namespace

TrustedTestRoot::TrustedTestRoot() : m_bOk(ChangeRootStore(true)) {}

TrustedTestRoot::~TrustedTestRoot() {
    if (m_bOk)
        ChangeRootStore(false);
}

#else

TrustedTestRoot::TrustedTestRoot() : m_bOk(Exists(PkiPath("ca.pem"))) {}
TrustedTestRoot::~TrustedTestRoot() = default;

#endif

} // namespace kstest

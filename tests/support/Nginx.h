// The nginx that CTest starts around the suite (scripts/serve-nginx.sh) and the test PKI made
// before it (tests/pki/make-test-pki.sh), as one test sees them: a download base of its own
// below nginx's root, the requests nginx logged for it, and the tests' certificate authority
// trusted while the test runs.
#pragma once

#include <string>
#include <vector>

namespace kstest {

// A POSIX path as this build reaches it (Wine maps the root to Z:).
std::string HostPath(std::string path);

struct AccessLine {
    std::string connection;
    std::string method;
    std::string uri;
};

class NginxSite {
public:
    // Picks a fresh base folder name; Skip() tells why the test cannot run.
    NginxSite();
    // Empty when nginx is there, else the reason to skip.
    std::string Skip() const;
    // The port of the plain server, or of an HTTPS server: "localhost", "otherhost" (a
    // certificate for another name) or "untrusted" (a certificate of another authority).
    int Port(const std::string& name = std::string()) const;
    const std::string& Base() const { return m_strBase; }
    // A path below the base on the server's side (relative with "/").
    std::string ServedPath(const std::string& relative) const;
    // Requests nginx logged for this base, in order.
    std::vector<AccessLine> Requests() const;

private:
    std::string m_strWork;
    std::string m_strRoot;
    std::string m_strBase;
};

// A file of the test PKI (relative with "/"), or empty when the suite runs outside ctest.
std::string PkiPath(const std::string& relative);

// The tests' certificate authority, trusted for HTTPS while the object lives: on POSIX through
// the file ExtraRootsFile() names (HttpTimeouts::strExtraRootsFile), on Windows in the current
// user's root store of the test Wine prefix, removed again at the end.
class TrustedTestRoot {
public:
    TrustedTestRoot();
    ~TrustedTestRoot();
    TrustedTestRoot(const TrustedTestRoot&) = delete;
    TrustedTestRoot& operator=(const TrustedTestRoot&) = delete;
    bool Ok() const { return m_bOk; }
    std::string ExtraRootsFile() const;

private:
    bool m_bOk = false;
};

} // namespace kstest

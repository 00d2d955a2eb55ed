#include "app/ProxyPasswordCommand.h"

#include "config/ProxySettings.h"
#include "platform/FileSystem.h"
#include "platform/PolicyStore.h"
#include "platform/Secret.h"

#include <istream>
#include <ostream>

int SetProxyPassword(const std::string& programDir, std::istream& input, std::ostream& errors) {
    std::string password;
    std::getline(input, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty()) {
        errors << "No password was given on standard input\n";
        return 2;
    }
    const int r = plat::ProtectSecret(password, ProxyPasswordPath(programDir));
    password.assign(password.size(), '\0');
    if (r == plat::kSecretUnsupported) {
        errors << "This platform keeps no proxy password: set PROXY_PASSWORD in the policy "
               << plat::DefaultPolicyLocation() << " (readable by root only)\n";
        return 2;
    }
    if (r != 0) {
        errors << "The password could not be stored in " << ProxyPasswordPath(programDir)
               << ", ErrCode = " << plat::LastErrorCode() << "\n";
        return 2;
    }
    return 0;
}

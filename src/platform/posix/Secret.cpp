#include "platform/Secret.h"

namespace plat {

int ProtectSecret(const std::string& secret, const std::string& path) {
    (void)secret, (void)path;
    return kSecretUnsupported;
}

int UnprotectSecret(const std::string& path, std::string& secret) {
    (void)path;
    secret.clear();
    return kSecretUnsupported;
}

} // namespace plat

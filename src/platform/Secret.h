// A secret (the proxy password) kept for this machine in a file, never in clear text.
//
// Windows: DPAPI with the machine's key (CryptProtectData, CRYPTPROTECT_LOCAL_MACHINE), so that
// every account of the machine that runs the program can read it back and no other machine
// can. POSIX has no such service: both calls answer kSecretUnsupported and the file is not
// touched (the password there comes from the policy file).
#pragma once

#include <string>

namespace plat {

inline constexpr int kSecretUnsupported = -2;

// 0 when path holds secret, protected; -1 when it cannot be protected or written (the reason
// in LastErrorCode()); kSecretUnsupported on POSIX.
int ProtectSecret(const std::string& secret, const std::string& path);

// 0 with secret set from path; -1 when the file is missing or cannot be read or unprotected
// (then secret is empty); kSecretUnsupported on POSIX.
int UnprotectSecret(const std::string& path, std::string& secret);

} // namespace plat

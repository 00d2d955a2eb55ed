// The keys a workstation accepts list files from: "config/KestrelSync.pem" under the program
// folder, one or more P-256 public keys in PEM (key rotation: a list signed by any of them is
// accepted). The file's presence switches trusted mode on.
#pragma once

#include "platform/Crypto.h"

#include <string>
#include <vector>

enum : int {
    kListKeysLoaded = 0,  // trusted mode, with at least one key
    kListKeysAbsent = 1,  // no key file: plain mode
    kListKeysInvalid = -1 // the file exists but cannot be read or holds no such keys
};

// "<program folder>/config/KestrelSync.pem".
std::string ListKeyFilePath(const std::string& programFolder);

// Reads the key file at path into keys. kListKeysLoaded, kListKeysAbsent or kListKeysInvalid
// (then why says why).
int LoadListKeys(const std::string& path, std::vector<plat::CP256PublicKey>& keys,
                 std::string& why);

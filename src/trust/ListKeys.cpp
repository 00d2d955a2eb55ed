#include "trust/ListKeys.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "trust/Der.h"

#include <cstdio>

namespace {

// Key files are a few hundred bytes; anything far larger is no key file.
constexpr std::uint64_t kKeyFileMax = 64 * 1024;

} // namespace

std::string ListKeyFilePath(const std::string& programFolder) {
    return plat::JoinPath(plat::JoinPath(programFolder, "config"), "KestrelSync.pem");
}

int LoadListKeys(const std::string& path, std::vector<plat::CP256PublicKey>& keys,
                 std::string& why) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(path, status)) {
        const int nError = plat::LastErrorCode();
        if (nError == plat::kErrFileNotFound || nError == plat::kErrPathNotFound)
            return kListKeysAbsent;
        why = "its status cannot be read (error " + std::to_string(nError) + ")";
        return kListKeysInvalid;
    }
    if (status.bFolder || status.nSize > kKeyFileMax) {
        why = status.bFolder ? "it is a folder" : "it is too large for a key file";
        return kListKeysInvalid;
    }
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr) {
        why = "it cannot be read (error " + std::to_string(plat::LastErrorCode()) + ")";
        return kListKeysInvalid;
    }
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;)
        text.append(buf, n);
    const bool bReadError = std::ferror(fp) != 0;
    std::fclose(fp);
    std::vector<std::vector<std::uint8_t>> blocks;
    std::string other;
    if (bReadError || !DecodePemBlocks(text, "PUBLIC KEY", blocks, other)) {
        why = bReadError      ? "it cannot be read"
              : other.empty() ? "it is not valid PEM"
                              : "it holds a " + other + ", not a public key";
        return kListKeysInvalid;
    }
    if (blocks.empty()) {
        why = "it holds no public key";
        return kListKeysInvalid;
    }
    std::vector<plat::CP256PublicKey> loaded;
    for (const std::vector<std::uint8_t>& der : blocks) {
        std::array<std::uint8_t, 65> point{};
        plat::CP256PublicKey key;
        if (!ParseP256PublicKeyInfo(der, point)) {
            why = "a key is not an ECDSA P-256 public key";
            return kListKeysInvalid;
        }
        if (!key.Import(point.data(), point.size())) {
            why = "a key is not a point of the P-256 curve";
            return kListKeysInvalid;
        }
        loaded.push_back(std::move(key));
    }
    keys = std::move(loaded);
    return kListKeysLoaded;
}

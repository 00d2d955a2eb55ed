// LOCAL_STORE: a folder that holds a copy of the release store (a branch office's share, a
// removable drive). Objects, their forms and the forms index are taken from it before the
// servers, checked by size and SHA-256 as a download is; what is missing or does not match is
// logged and left to the servers.
#pragma once

#include "platform/Crypto.h"
#include "updatelist/DownFileItem.h"

#include <cstdint>
#include <string>

class CLocalStore {
public:
    // The folder of LOCAL_STORE; empty: none. A folder that cannot be reached is logged once
    // here and not used.
    explicit CLocalStore(const std::string& folder);

    bool Usable() const { return !m_strFolder.empty(); }
    // The file at relative (below the store, with "/") staged at staged through its partial
    // file, with item's size and the SHA-256 expected. Empty when it is there and verified,
    // else why not ("" is never returned for a failure).
    std::string Stage(const std::string& relative, const DownFileItem& item,
                      const plat::Sha256Digest& expected, const std::string& staged) const;
    // The whole file at relative, at most nMax bytes; false when it is not there or larger.
    bool Read(const std::string& relative, std::int64_t nMax, std::string& bytes) const;

private:
    std::string PathOf(const std::string& relative) const;
    std::string m_strFolder;
};

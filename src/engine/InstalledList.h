// What the list the workstation accepted before this run says of its files: time, size and
// SHA-256 by target path. A file that still has the time and size its line gives is taken to
// hold that content, so that finding the patch it can take needs no hashing. The list is a
// hint, never a check: a wrong guess costs only the patch, which its frame's checksum and the
// result's SHA-256 refuse.
#pragma once

#include "updatelist/DownFileItem.h"

#include <cstdint>
#include <string>
#include <unordered_map>

class CInstalledList {
public:
    CInstalledList() = default;
    // The lines of list that give a SHA-256; a time within nTimeSpan seconds counts as the
    // same, as it does when the run decides what to download.
    CInstalledList(const DownFileItemList& list, std::int64_t nTimeSpan);

    // The SHA-256 (lowercase hex) of what item's target holds, when its line here gives one
    // and the target still has that line's time and size.
    bool ContentOf(const DownFileItem& item, std::string& sha256) const;

private:
    struct CLine {
        std::int64_t tModify = 0;
        std::int64_t nSize = 0;
        std::string strSha256;
    };
    std::unordered_map<std::string, CLine> m_lines; // by plat::PathKey of the target
    std::int64_t m_nTimeSpan = 0;
};

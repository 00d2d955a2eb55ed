// The files of an update tree: found in name order (links followed, never out of the tree),
// then each read once for its size, time and SHA-256.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

struct CTreeFile {
    std::string strPath;     // below the tree, with "/"
    std::string strFullPath; // on this machine
    std::uint64_t nSize = 0;
    std::int64_t tModify = 0;
    std::string strHash; // lower-case hex, once hashed
};

struct CScan {
    std::string strRoot;            // the tree's canonical path
    std::set<std::string> excluded; // canonical paths of the tool's own files
    std::set<std::string> visited;  // canonical folders, against loops of links
    std::vector<CTreeFile> files;
    std::string strWhy;
};

// The whole file at path; false when it cannot be read.
bool ReadAll(const std::string& path, std::string& bytes);

// True when path (canonical) lies below root (canonical).
bool IsInside(const std::string& root, const std::string& path);

// The files of tree in name order, without the files at the paths of own (the tool's own
// files, where they exist); false with the reason in scan.strWhy.
bool ScanTree(const std::string& tree, const std::vector<std::string>& own, CScan& scan);

inline constexpr int kHashUnreadable = -1;
inline constexpr int kHashChanged = -2;

// The file's hash, and its size and time from the same read: 0, kHashUnreadable, or
// kHashChanged when the bytes read and the file's status before and after the read disagree
// (a file written to while it is read would give a line whose size and hash do not match).
int HashFile(CTreeFile& file, std::uint64_t& nHashed);

// The files of the scan hashed in order, with their progress on progress (when not null), each
// given to onHashed (when set) once it is hashed; false with the reason in scan.strWhy.
bool HashTree(CScan& scan, std::FILE* progress, std::uint64_t& nHashed,
              const std::function<void(const CTreeFile&)>& onHashed = {});

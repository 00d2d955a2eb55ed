#include "publish/TreeScan.h"

#include "platform/Crypto.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "trust/SignedList.h"

#include <algorithm>
#include <memory>

namespace {

constexpr std::size_t kReadBlock = 1 << 20;

bool ScanFolder(CScan& scan, const std::string& folder, const std::string& relative) {
    std::vector<plat::FoundFile> found;
    if (!plat::FindFiles(plat::JoinPath(folder, "*"), found) &&
        plat::LastErrorCode() != plat::kErrFileNotFound) {
        scan.strWhy = "cannot read the folder " + folder;
        return false;
    }
    for (const plat::FoundFile& entry : found) {
        const std::string path = relative.empty() ? entry.strName : relative + "/" + entry.strName;
        std::string canonical;
        if (!plat::CanonicalPath(entry.strPath, canonical)) {
            scan.strWhy = "cannot resolve " + path + " (a link to nothing?)";
            return false;
        }
        if (!IsInside(scan.strRoot, canonical)) {
            scan.strWhy = "the link " + path + " leads out of the tree";
            return false;
        }
        if (entry.bFolder) {
            if (scan.visited.insert(canonical).second && !ScanFolder(scan, entry.strPath, path))
                return false;
            continue;
        }
        if (scan.excluded.count(canonical) != 0)
            continue;
        plat::FileStatus status;
        if (!plat::GetFileStatus(entry.strPath, status)) {
            scan.strWhy = "cannot read " + path;
            return false;
        }
        scan.files.push_back(CTreeFile{path, entry.strPath, status.nSize, status.tModify, ""});
    }
    return true;
}

} // namespace

bool ReadAll(const std::string& path, std::string& bytes) {
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return false;
    const std::unique_ptr<char[]> buf(new char[kReadBlock]);
    for (std::size_t n; (n = std::fread(buf.get(), 1, kReadBlock, fp)) > 0;)
        bytes.append(buf.get(), n);
    const bool bOk = std::ferror(fp) == 0;
    std::fclose(fp);
    return bOk;
}

bool IsInside(const std::string& root, const std::string& path) {
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
           plat::IsPathSep(path[root.size()]);
}

bool ScanTree(const std::string& tree, const std::vector<std::string>& own, CScan& scan) {
    if (!plat::CanonicalPath(tree, scan.strRoot)) {
        scan.strWhy = "cannot resolve the tree " + tree;
        return false;
    }
    scan.visited.insert(scan.strRoot);
    for (const std::string& path : own) {
        std::string canonical;
        if (!path.empty() && plat::CanonicalPath(path, canonical))
            scan.excluded.insert(canonical);
    }
    if (!ScanFolder(scan, tree, ""))
        return false;
    std::sort(scan.files.begin(), scan.files.end(),
              [](const CTreeFile& a, const CTreeFile& b) { return a.strPath < b.strPath; });
    return true;
}

int HashFile(CTreeFile& file, std::uint64_t& nHashed) {
    plat::FileStatus before;
    std::FILE* fp = plat::GetFileStatus(file.strFullPath, before)
                        ? plat::OpenFile(file.strFullPath, "rb")
                        : nullptr;
    if (fp == nullptr)
        return kHashUnreadable;
    plat::CSha256 sha;
    std::uint64_t nRead = 0;
    // Not zero-filled: a megabyte cleared per file costs more than hashing a small file.
    const std::unique_ptr<char[]> buf(new char[kReadBlock]);
    for (std::size_t n; (n = std::fread(buf.get(), 1, kReadBlock, fp)) > 0;) {
        sha.Update(buf.get(), n);
        nRead += n;
    }
    const bool bRead = std::ferror(fp) == 0;
    std::fclose(fp);
    nHashed += nRead;
    plat::Sha256Digest digest{};
    plat::FileStatus after;
    if (!bRead || !sha.Finish(digest) || !plat::GetFileStatus(file.strFullPath, after))
        return kHashUnreadable;
    if (nRead != before.nSize || after.nSize != before.nSize || after.tModify != before.tModify)
        return kHashChanged;
    file.nSize = nRead;
    file.tModify = before.tModify;
    file.strHash = Sha256Hex(digest);
    return 0;
}

bool HashTree(CScan& scan, std::FILE* progress, std::uint64_t& nHashed,
              const std::function<void(const CTreeFile&)>& onHashed) {
    for (std::size_t i = 0; i < scan.files.size(); ++i) {
        const int nHash = HashFile(scan.files[i], nHashed);
        if (nHash != 0) {
            scan.strWhy = nHash == kHashChanged
                              ? scan.files[i].strPath + " changed while it was read; publish when "
                                                        "the tree stays as it is"
                              : "cannot read " + scan.files[i].strPath;
            return false;
        }
        if (onHashed)
            onHashed(scan.files[i]);
        if (progress != nullptr)
            std::fprintf(progress, "\rhashed %zu of %zu files, %.1f MB", i + 1, scan.files.size(),
                         static_cast<double>(nHashed) / 1e6);
    }
    if (progress != nullptr)
        std::fprintf(progress, "\n");
    return true;
}

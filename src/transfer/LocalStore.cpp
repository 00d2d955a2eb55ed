#include "transfer/LocalStore.h"

#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/StagingSink.h"
#include "updatelist/StringUtil.h"

#include <cstdio>
#include <vector>

CLocalStore::CLocalStore(const std::string& folder) {
    if (folder.empty())
        return;
    plat::FileStatus status;
    if (!plat::GetFileStatus(folder, status) || !status.bFolder) {
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::LocalStore> LOCAL_STORE = %s Cannot Be Reached, ErrCode = %d",
                 folder.c_str(), plat::LastErrorCode());
        return;
    }
    m_strFolder = folder;
}

std::string CLocalStore::PathOf(const std::string& relative) const {
    std::string path = relative;
    for (char& c : path) {
        if (c == '/' || c == '\\')
            c = plat::kPathSep;
    }
    return plat::JoinPath(m_strFolder, path);
}

std::string CLocalStore::Stage(const std::string& relative, const DownFileItem& item,
                               const plat::Sha256Digest& expected,
                               const std::string& staged) const {
    const std::string path = PathOf(relative);
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return "not in the local store";
    CStagingSink sink(item, staged, expected);
    int r = sink.BeginLocal();
    std::int64_t nRead = 0;
    const std::int64_t nLimit = AtoiValue(item.m_strFileSize);
    std::vector<char> buf(1 << 16);
    for (std::size_t n;
         r == 0 && nRead <= nLimit && (n = std::fread(buf.data(), 1, buf.size(), fp)) > 0;) {
        nRead += static_cast<std::int64_t>(n);
        r = sink.Write(buf.data(), n);
    }
    const bool bReadError = std::ferror(fp) != 0;
    std::fclose(fp);
    if (r == 0 && !bReadError)
        r = sink.Finish(nRead);
    else
        sink.Abandon(r);
    if (r == 0 && !bReadError)
        return std::string();
    plat::RemoveFile(CStagingSink::PartialPath(staged));
    return bReadError ? "the local store's file cannot be read"
                      : "the local store's file is not the listed one, code " + std::to_string(r);
}

bool CLocalStore::Read(const std::string& relative, std::int64_t nMax, std::string& bytes) const {
    return nMax >= 0 &&
           plat::ReadWholeFile(PathOf(relative), static_cast<std::size_t>(nMax), bytes);
}

#include "engine/InstalledList.h"

#include "config/SyncConfig.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/HttpDate.h"
#include "trust/FormIndex.h"

CInstalledList::CInstalledList(const DownFileItemList& list, std::int64_t nTimeSpan)
    : m_nTimeSpan(nTimeSpan) {
    for (const auto& item : list) {
        CLine line;
        if (item->m_strSha256.empty() || !ModifyTimeToEpoch(item->m_strModifyTime, line.tModify))
            continue;
        line.nSize = AtoiValue(item->m_strFileSize);
        line.strSha256 = ObjectHashKey(item->m_strSha256);
        m_lines[plat::PathKey(item->m_strTargetFile)] = std::move(line);
    }
}

bool CInstalledList::ContentOf(const DownFileItem& item, std::string& sha256) const {
    const auto found = m_lines.find(plat::PathKey(item.m_strTargetFile));
    plat::FileStatus status;
    if (found == m_lines.end() || !plat::GetFileStatus(item.m_strTargetFile, status) ||
        status.bFolder || static_cast<std::int64_t>(status.nSize) != found->second.nSize)
        return false;
    const std::int64_t nGap = status.tModify - found->second.tModify;
    if (nGap > m_nTimeSpan || -nGap > m_nTimeSpan)
        return false;
    sha256 = found->second.strSha256;
    return true;
}

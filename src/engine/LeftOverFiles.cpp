#include "engine/LeftOverFiles.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/Transfer.h"

#include <cstdio>
#include <vector>

namespace {

// Whether folder may hold temporary files of downloads (one look at it).
bool FolderMayHoldLeftOvers(const std::string& folder, bool bNoFolder) {
    std::vector<plat::FoundFile> files;
    const std::string pattern = "*" + DownloadTempPath(std::string());
    if (plat::FindFiles(bNoFolder ? pattern : plat::JoinPath(folder, pattern), files))
        return true;
    // A folder that cannot be listed for another reason is treated as holding some.
    const int nError = plat::LastErrorCode();
    return nError != plat::kErrFileNotFound && nError != plat::kErrPathNotFound;
}

} // namespace

void CLeftOverFiles::Begin(const std::string& strMarker) {
    plat::FileStatus status;
    bool bPossible = true;
    if (!plat::GetFileStatus(strMarker, status)) {
        const int nError = plat::LastErrorCode();
        bPossible = nError != plat::kErrFileNotFound && nError != plat::kErrPathNotFound;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strMarker = strMarker;
    m_bPossible = bPossible;
    m_bMarked = false;
    m_nKept = 0;
}

bool CLeftOverFiles::Possible() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bPossible;
}

void CLeftOverFiles::RemoveBeside(const std::string& strTargetFile) {
    const std::string temp = DownloadTempPath(strTargetFile);
    const std::size_t sep = plat::LastSepPos(temp);
    const std::string folder = sep == std::string::npos ? std::string() : temp.substr(0, sep);
    bool bMay = false;
    bool bKnown = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_folders.find(folder);
        bKnown = found != m_folders.end();
        bMay = bKnown && found->second;
    }
    if (!bKnown) {
        bMay = FolderMayHoldLeftOvers(folder, sep == std::string::npos);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_folders.emplace(folder, bMay);
    }
    if (bMay && !plat::RemoveLeftOverFile(temp)) {
        plat::FileStatus status;
        if (plat::GetFileStatus(temp, status)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_nKept;
        }
    }
}

void CLeftOverFiles::MarkPossible() {
    // Held until the marker exists: no lane writes beside a target before it does.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bMarked || m_strMarker.empty())
        return;
    m_bMarked = true;
    const std::string& marker = m_strMarker;
    // Without the marker (a folder that cannot be written) a temporary file that an ended
    // process leaves is only wasted room: the next download of its item overwrites it.
    plat::CreateFolder(marker.substr(0, plat::LastSepPos(marker)));
    if (std::FILE* fp = plat::OpenFile(marker, "ab"))
        std::fclose(fp);
}

void CLeftOverFiles::End(bool bAllItemsDone) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if ((m_bPossible || m_bMarked) && bAllItemsDone && m_nKept == 0)
        plat::RemoveLeftOverFile(m_strMarker);
}

#include "updatelist/ListFile.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

#include <cstdio>
#include <string_view>

namespace {

// Calls take(piece) for every piece of bytes, in order, as SplitListPieces describes them; a
// piece's line end is given as bLineEnd instead of a "\n" byte.
template <typename Take>
void ForEachListPiece(std::string_view bytes, std::size_t nPieceMax, Take&& take) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Up to nPieceMax bytes of the line; a CR LF counts as one byte, as text mode reads it.
        std::size_t end = pos;
        std::size_t counted = 0;
        bool bLineEnd = false;
        while (end < bytes.size() && counted < nPieceMax) {
            if (bytes[end] == '\n') {
                bLineEnd = true;
                break;
            }
            if (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') {
                bLineEnd = true;
                break;
            }
            ++end;
            ++counted;
        }
        std::string_view piece = bytes.substr(pos, end - pos);
        if (bLineEnd)
            end += bytes[end] == '\r' ? 2 : 1;
        pos = end;
        const std::size_t nul = piece.find('\0');
        if (nul != std::string_view::npos) {
            piece = piece.substr(0, nul);
            bLineEnd = false; // the line end lies beyond the cut
        }
        take(piece, bLineEnd);
    }
}

} // namespace

std::vector<std::string> SplitListPieces(const std::string& bytes, std::size_t nPieceMax) {
    std::vector<std::string> pieces;
    ForEachListPiece(bytes, nPieceMax, [&pieces](std::string_view piece, bool bLineEnd) {
        std::string text(piece);
        if (bLineEnd)
            text += '\n';
        pieces.push_back(std::move(text));
    });
    return pieces;
}

namespace {

bool ReadAll(std::FILE* fp, std::string& bytes) {
    char buf[8192];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0)
        bytes.append(buf, n);
    return std::ferror(fp) == 0;
}

} // namespace

bool ReadListFileBytes(const std::string& path, std::string& bytes) {
    std::string read;
    if (!plat::ReadWholeFile(path, static_cast<std::size_t>(kListFileMaxBytes), read))
        return false;
    bytes += read;
    return true;
}

int ReadListFile(const std::string& path, const std::string& strLocalBaseDir,
                 const std::function<void(DownFileItem&)>& expand, DownFileItemList& list,
                 std::size_t nPieceMax) {
    plat::FileStatus status;
    if (plat::GetFileStatus(path, status) &&
        status.nSize > static_cast<std::uint64_t>(kListFileMaxBytes)) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::GetFileListFileFromFile> List File Too Large, Size = %llu, Limit = "
                 "%lld",
                 static_cast<unsigned long long>(status.nSize),
                 static_cast<long long>(kListFileMaxBytes));
        return -1;
    }
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::GetFileListFileFromFile> fopen(%s) Fail, ErrNo = %d",
                 path.c_str(), plat::LastErrorCode());
        return -1;
    }
    std::string bytes;
    ReadAll(fp, bytes); // a read error ends the file where it happened
    std::fclose(fp);
    ParseListBytes(bytes, strLocalBaseDir, expand, list, nPieceMax);
    return 0;
}

void ParseListBytes(const std::string& bytes, const std::string& strLocalBaseDir,
                    const std::function<void(DownFileItem&)>& expand, DownFileItemList& list,
                    std::size_t nPieceMax) {
    ForEachListPiece(bytes, nPieceMax, [&](std::string_view line, bool) {
        if (line.empty() || line[0] == '#' || line[0] == '!')
            return;
        auto item = std::make_unique<DownFileItem>();
        if (!item->ParseListLine(plat::AnsiToUtf8(line)))
            return;
        if (expand)
            expand(*item);
        item->MakeTargetFilePath(strLocalBaseDir);
        list.push_back(std::move(item));
    });
}

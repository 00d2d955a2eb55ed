#include "publish/ListWriter.h"

#include "platform/Text.h"
#include "publish/Publisher.h"
#include "trust/SignedList.h"
#include "updatelist/ListFile.h"

#include <algorithm>
#include <set>

namespace {

// One line's fields as the list reader splits them back: quoted where a "," or a leading
// comment mark would change the line; false for text no field can carry.
bool AppendField(std::string& line, const std::string& text, bool bFirst) {
    if (text.find_first_of("\"\r\n") != std::string::npos || (!text.empty() && text.back() == '\\'))
        return false;
    if (!bFirst)
        line += ',';
    const bool bQuote = text.empty() || text.find(',') != std::string::npos ||
                        (bFirst && (text[0] == '#' || text[0] == '!'));
    line += bQuote ? "\"" + text + "\"" : text;
    return true;
}

std::string WithBackslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Why the file cannot have its line (empty when it can): its names, or a target taken before.
std::string RefusedLine(const CTreeFile& file, const std::string& local, ServerPaths paths,
                        CEntry& entry, CListTargets& targets) {
    std::string earlier;
    if (file.strPath.find('\\') != std::string::npos ||
        !AppendField(entry.strLine, entry.strServer, true) ||
        !AppendField(entry.strLine, local, false))
        return "the name " + file.strPath + " cannot be written in a list line";
    if (paths == ServerPaths::kTree && !FetchableName(file.strPath))
        return "the name " + file.strPath +
               " holds \"%\", \"?\" or \"#\", which the workstations send as they are (the "
               "server would answer for another name); rename it";
    if (!targets.Add(file.strPath, local, earlier))
        return earlier + " and " + file.strPath + " are one file on the workstations (" + local +
               "); give them other local paths";
    return std::string();
}

} // namespace

std::string ObjectPath(const std::string& hash) {
    return "objects/" + hash.substr(0, 2) + "/" + hash;
}

bool FileEntries(const std::vector<CTreeFile>& files, const std::vector<CPublishRule>& rules,
                 const std::map<std::string, DownFileItem>& previous, ServerPaths paths,
                 CListTargets& targets, std::vector<CEntry>& entries, std::string& why) {
    for (const CTreeFile& file : files) {
        CEntry entry{paths == ServerPaths::kTree ? file.strPath : ObjectPath(file.strHash),
                     file.strPath,
                     "",
                     std::to_string(file.nSize),
                     CPublisher::TimeColumn(file.tModify),
                     file.strHash};
        std::string strClass;
        std::string strType;
        std::string strLocal;
        const auto known = previous.find(file.strPath);
        if (known != previous.end()) {
            strClass = known->second.m_strFileClass;
            strType = known->second.m_strFileType;
            strLocal = WithBackslashes(known->second.m_strLocalFile);
        } else {
            ApplyRules(rules, file.strPath, strClass, strType, strLocal);
        }
        why = RefusedLine(file, strLocal, paths, entry, targets);
        if (!why.empty())
            return false;
        for (const std::string* field :
             {&strClass, &strType, &entry.strTime, &entry.strSize, &entry.strHash})
            AppendField(entry.strLine, *field, false);
        entries.push_back(entry);
    }
    return true;
}

bool DeletionEntries(const std::vector<DownFileItem>& previousDeletions, ServerPaths paths,
                     CListTargets& targets, std::vector<CEntry>& entries, std::string& why) {
    std::set<std::string> present;
    for (const CEntry& entry : entries) {
        if (paths == ServerPaths::kTree)
            present.insert(entry.strServer);
    }
    for (const DownFileItem& item : previousDeletions) {
        const std::string local = WithBackslashes(item.m_strLocalFile);
        std::string earlier;
        if (present.count(item.m_strServerFile) != 0 || targets.Has(local))
            continue;
        targets.Add(item.m_strServerFile, local, earlier);
        CEntry entry;
        entry.bDelete = true;
        entry.strServer = item.m_strServerFile;
        entry.strName = item.m_strServerFile;
        const std::string time =
            item.m_strModifyTime.empty() ? "20000101000000" : item.m_strModifyTime;
        const std::string size = item.m_strFileSize.empty() ? "0" : item.m_strFileSize;
        bool bOk = AppendField(entry.strLine, item.m_strServerFile, true) &&
                   AppendField(entry.strLine, local, false);
        for (const std::string& field : {item.m_strFileClass, std::string("DEL"), time, size})
            bOk = bOk && AppendField(entry.strLine, field, false);
        if (!bOk) {
            why = "the DEL line of " + item.m_strServerFile + " cannot be written";
            return false;
        }
        entries.push_back(entry);
    }
    return true;
}

std::string ListHead(std::int64_t nSerial, int nExpiresDays, std::int64_t tNow) {
    std::string text = "#serial=" + std::to_string(nSerial) + "\n";
    if (nExpiresDays >= 0)
        text += "#expires=" + UtcDigitsFromTime(tNow + std::int64_t{nExpiresDays} * 86400) + "\n";
    return text;
}

bool EncodeList(const std::vector<CEntry>& entries, const std::string& head,
                const std::string& encoding, std::string& bytes, std::string& why) {
    if (!Encode(head, encoding, bytes)) {
        why = "the list's head cannot be encoded";
        return false;
    }
    for (const CEntry& entry : entries) {
        std::string line;
        if (!Encode(entry.strLine + "\n", encoding, line)) {
            why = "the name " + entry.strName + " cannot be written in CP949";
            return false;
        }
        if (line.size() > kSignedLineMax + 1) {
            why = "the line of " + entry.strName + " is longer than " +
                  std::to_string(kSignedLineMax) + " bytes";
            return false;
        }
        bytes += line;
    }
    return true;
}

bool Encode(const std::string& utf8, const std::string& encoding, std::string& bytes) {
    if (encoding == "utf-8") {
        bytes = utf8;
        return true;
    }
    return plat::Utf8ToCp949(utf8, bytes);
}

bool Decode(const std::string& bytes, const std::string& encoding, std::string& utf8) {
    if (encoding == "utf-8") {
        utf8 = bytes;
        return true;
    }
    return plat::Cp949ToUtf8(bytes, utf8);
}

bool DecodeListText(const std::string& bytes, std::string& utf8) {
    if (plat::Utf16ToUtf8(plat::Utf8ToUtf16(bytes)) == bytes) {
        utf8 = bytes;
        return true;
    }
    if (plat::Cp949ToUtf8(bytes, utf8))
        return true;
    utf8 = bytes;
    return false;
}

std::vector<DownFileItem> ParseItems(const std::string& text) {
    std::vector<DownFileItem> items;
    for (const std::string& piece : SplitListPieces(text, kSignedLineMax + 1)) {
        if (piece.empty() || piece[0] == '#' || piece[0] == '!')
            continue;
        std::string line = piece;
        if (line.back() == '\n')
            line.pop_back();
        DownFileItem item;
        if (item.ParseListLine(line))
            items.push_back(item);
    }
    return items;
}

bool FetchableName(const std::string& serverPath) {
    return serverPath.find_first_of("%?#") == std::string::npos;
}

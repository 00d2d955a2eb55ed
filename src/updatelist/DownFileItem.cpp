#include "updatelist/DownFileItem.h"

#include "platform/Path.h"
#include "updatelist/StringUtil.h"

DownFileItem g_ListFileItem;
DownFileItem g_SelfFileItem;
std::string g_strWindowsDir;
std::string g_strSystemDir;

namespace {

constexpr std::size_t kModifyTimeDigits = 14;

// The list file may separate folders with "/" or "\"; both become the platform's separator.
std::string ToPlatformSeparators(std::string path) {
    for (char& c : path) {
        if (c == '/' || c == '\\')
            c = plat::kPathSep;
    }
    return path;
}

int TypeCode(const std::string& keyword) {
    const std::string head = keyword.substr(0, 3);
    if (head == "REG")
        return kFileTypeReg;
    if (head == "CMD")
        return kFileTypeCmd;
    if (head == "DEL")
        return kFileTypeDel;
    if (head == "FNT" || head == "FON")
        return kFileTypeFont;
    if (head == "REF")
        return kFileTypeRef;
    return kFileTypeFile;
}

} // namespace

bool DownFileItem::ParseListLine(const std::string& line) {
    std::vector<std::string> fields;
    fields.reserve(8);
    SplitString(fields, ",", line);
    const std::size_t n = fields.size();
    if (n == 0)
        return false;

    m_nFileType = kFileTypeFile;
    m_strFileType = "FILE";
    m_nFileClass = kFileClassApp;
    m_strFileClass = "APP";

    m_strLocalFile = ToPlatformSeparators(n >= 2 && !fields[1].empty() ? fields[1] : fields[0]);
    m_strServerFile = std::move(fields[0]);
    m_strTargetFile = m_strLocalFile;

    if (n >= 3) {
        m_strFileClass = TrimWhite(ToUpperAscii(fields[2]));
        m_nFileClass = m_strFileClass.compare(0, 3, "SYS") == 0 ? kFileClassSys : kFileClassApp;
    }
    if (n >= 4) {
        m_strFileType = TrimWhite(ToUpperAscii(fields[3]));
        m_nFileType = TypeCode(m_strFileType);
    }
    if (m_nFileType == kFileTypeCmd && n >= 5)
        m_strCmdParam = TrimWhite(fields[3]);
    if (n >= 5) {
        m_strModifyTime = ExtractDigits(fields[4]);
        if (m_strModifyTime.size() < kModifyTimeDigits)
            m_strModifyTime.clear();
    }
    if (n >= 6)
        m_strFileSize = std::move(fields[5]);
    if (n >= 7)
        m_strSha256 = TrimWhite(fields[6]); // only trusted mode reads it
    return true;
}

void DownFileItem::MakeTargetFilePath(const std::string& strLocalBaseDir) {
    std::string base = strLocalBaseDir;
    if (base.empty() || base.back() != plat::kPathSep)
        base += plat::kPathSep;

    if (m_strTargetFile.find('%') != std::string::npos) {
        m_strTargetFile = ReplaceAll(std::move(m_strTargetFile), "%SystemDir%", g_strSystemDir);
        m_strTargetFile = ReplaceAll(std::move(m_strTargetFile), "%SystemRoot%", g_strWindowsDir);
    }
    m_strTargetFile = plat::ResolveAgainstBase(base, m_strTargetFile);
}

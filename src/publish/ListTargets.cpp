#include "publish/ListTargets.h"

#include "updatelist/StringUtil.h"

#include <algorithm>
#include <vector>

namespace {

struct CFolderAlias {
    const char* pszName;
    const char* pszFolder; // in the form of a key; "<...>" is no name a Windows path can hold
};

// The keys of CDirKeyMap, replaced when one (case included) opens the path followed by a
// separator, as the folders they are on a 64-bit Windows workstation.
const CFolderAlias kDirKeys[] = {
    {"_WINDOWS", "<windows>"},
    {"_SYSTEM", "<windows>\\system32"},
    {"_SYSTEM_32BIT", "<windows>\\syswow64"},
    {"_FONTS", "<windows>\\fonts"},
    {"_PROGRAM_FILES", "<program files>"},
    {"_PROGRAM_FILES_32BIT", "<program files (x86)>"},
    {"_DESKTOPDIRECTORY", "<desktop>"},
    {"_PROGRAMS", "<programs>"},
    {"_STARTUP", "<programs>\\startup"},
};

// The placeholders that DownFileItem::MakeTargetFilePath replaces wherever they stand.
const CFolderAlias kPlaceholders[] = {
    {"%SystemDir%", "<windows>\\system32"},
    {"%SystemRoot%", "<windows>"},
};

// The lower case of a letter as Windows compares names, for the cased letters of CP949
// (Latin, Greek, Cyrillic, full-width Latin) and of Latin-1.
char32_t FoldLetter(char32_t c) {
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    const bool bUpper = (c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
                        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F) ||
                        (c >= 0xFF21 && c <= 0xFF3A);
    return bUpper ? c + 0x20 : c;
}

// Folds the letters of two- and three-byte UTF-8 sequences and ASCII; any other byte (of a
// longer or broken sequence) stays as it is.
std::string FoldCase(const std::string& text) {
    std::string folded;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&text, i](std::size_t k) {
            return static_cast<unsigned char>(text[i + k]);
        };
        std::size_t n = byte(0) < 0x80 ? 1 : (byte(0) >> 5) == 6 ? 2 : (byte(0) >> 4) == 14 ? 3 : 0;
        for (std::size_t k = 1; n > 1 && k < n; ++k) {
            if (i + k >= text.size() || (byte(k) >> 6) != 2)
                n = 0;
        }
        if (n == 0) {
            folded += text[i++];
            continue;
        }
        char32_t c = n == 1 ? byte(0)
                     : n == 2
                         ? ((byte(0) & 0x1Fu) << 6) | (byte(1) & 0x3Fu)
                         : ((byte(0) & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
        c = FoldLetter(c);
        if (n == 1)
            folded += static_cast<char>(c);
        else if (n == 2)
            folded += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        else
            folded +=
                {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (c & 0x3F))};
        i += n;
    }
    return folded;
}

// The names of a path with "\" as Windows opens it: empty names and "." dropped, ".." taking
// away the name before it (at a drive's root: nothing), trailing dots and blanks dropped.
std::string Normalize(const std::string& path) {
    std::vector<std::string> names;
    for (std::size_t start = 0, end = 0; start <= path.size(); start = end + 1) {
        end = std::min(path.find('\\', start), path.size());
        std::string name = path.substr(start, end - start);
        if (name != "..") {
            while (!name.empty() && (name.back() == '.' || name.back() == ' '))
                name.pop_back();
        }
        if (name.empty())
            continue;
        const bool bDriveRoot =
            names.size() == 1 && (names[0].back() == ':' || names[0] == "<base drive>");
        if (name == ".." && bDriveRoot)
            continue;
        if (name == ".." && names.size() > 1 && names.back() != "..")
            names.pop_back();
        else
            names.push_back(name);
    }
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : "\\") + name;
    return joined;
}

} // namespace

std::string CListTargets::Key(const std::string& localPath) {
    std::string path = localPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    const std::size_t sep = path.find('\\');
    if (!path.empty() && path[0] == '_' && sep != std::string::npos) {
        for (const CFolderAlias& key : kDirKeys) {
            if (path.compare(0, sep, key.pszName) == 0) {
                path = key.pszFolder + path.substr(sep);
                break;
            }
        }
    }
    for (const CFolderAlias& placeholder : kPlaceholders)
        path = ReplaceAll(std::move(path), placeholder.pszName, placeholder.pszFolder);
    // As plat::ResolveAgainstBase on Windows: a drive stays, a leading "\" goes on the base
    // folder's drive, anything else under the base folder.
    if (!path.empty() && path[0] == '\\')
        path = "<base drive>" + path;
    else if (!(path.size() >= 2 && path[1] == ':') && (path.empty() || path[0] != '<'))
        path = "<base>\\" + path;
    return FoldCase(Normalize(path));
}

bool CListTargets::Add(const std::string& serverPath, const std::string& localPath,
                       std::string& earlier) {
    const auto [it, bNew] = m_mapLines.emplace(Key(localPath), serverPath);
    if (!bNew)
        earlier = it->second;
    return bNew;
}

bool CListTargets::Has(const std::string& localPath) const {
    return m_mapLines.count(Key(localPath)) != 0;
}

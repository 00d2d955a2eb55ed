// One download item, made from one line of the list file.
#pragma once

#include <memory>
#include <string>
#include <vector>

// Type codes (m_nFileType).
enum : int {
    kFileTypeFile = 1, // download only
    kFileTypeReg = 2,  // download, then register as a COM server
    kFileTypeCmd = 3,  // download; the executable step only names it
    kFileTypeDel = 4,  // never downloaded; the local file is deleted
    kFileTypeFont = 5, // download, then install the font
    kFileTypeRef = 6,  // download, then merge into the registry
};

// Class codes (m_nFileClass).
enum : int {
    kFileClassSys = 1, // downloaded only when no local file exists
    kFileClassApp = 2, // downloaded when it differs from the server's copy
};

class DownFileItem {
public:
    // Fills the item from one list-file line (without its line end): server path, local path,
    // class, type, server time (14 digits or empty) and size. False when the line holds no
    // field; the item is then left as it was.
    bool ParseListLine(const std::string& line);

    // Turns m_strTargetFile into an absolute path: "%SystemDir%" and "%SystemRoot%" are
    // replaced by g_strSystemDir and g_strWindowsDir; an absolute path stays; a path from the
    // root (Windows: a leading "\") goes on the base folder's drive; anything else goes under
    // the base folder.
    void MakeTargetFilePath(const std::string& strLocalBaseDir);

    // The list gives the server's time and size: no request is needed to decide on the item.
    bool HasListedInfo() const { return !m_strFileSize.empty() && !m_strModifyTime.empty(); }

    std::string m_strServerFile; // path on the server under the download base, "/" between
    std::string m_strTargetFile; // absolute local path
    std::string m_strLocalFile;  // local path as written, with the platform's separators
    std::string m_strFileType;   // type keyword, upper-cased and trimmed
    std::string m_strFileClass;  // class keyword, upper-cased and trimmed
    int m_nFileType = 0;
    int m_nFileClass = 0;
    std::string m_strCmdParam;
    std::string m_strModifyTime; // YYYYMMDDhhmmss of the workstation's local time, or empty
    std::string m_strFileSize;   // decimal bytes, or empty
    int m_nSyncOkFlag = 0;       // 1 when the item was dealt with without a failed download
    std::string m_strSha256;     // column 7, trimmed: the content's SHA-256 (trusted mode)
};

// The engine's items in list-file order; the list owns them.
using DownFileItemList = std::vector<std::unique_ptr<DownFileItem>>;

// The list file itself, and the updater's own executable.
extern DownFileItem g_ListFileItem;
extern DownFileItem g_SelfFileItem;

// The Windows folder and the system folder: the values of "%SystemRoot%" and "%SystemDir%".
// Filled at the start of every run.
extern std::string g_strWindowsDir;
extern std::string g_strSystemDir;

// The local targets of a list's lines, compared as a Windows workstation resolves them, so
// that a list never names one file on the workstation twice (two lines that write, or write
// and delete, one file leave it to the order of the lines which one a workstation keeps).
#pragma once

#include <map>
#include <string>

class CListTargets {
public:
    // The target of a local path as written in a list line, in a form where paths that a
    // 64-bit Windows workstation resolves to one file are equal: "/" and "\" are one, case is
    // folded (ASCII, Latin-1, Greek, Cyrillic, full-width Latin), "." and ".." are resolved,
    // empty folder names and trailing dots and blanks of a name are dropped, and the
    // special-directory keys and placeholders stand for their folders ("_SYSTEM\a.dll",
    // "%SystemDir%\a.dll" and "_WINDOWS\System32\a.dll" are one target). Paths that may or may
    // not meet depending on the machine (an absolute "C:\Windows" and "_WINDOWS") stay apart.
    static std::string Key(const std::string& localPath);

    // Takes the line of serverPath with the local path localPath; false when an earlier line
    // has the same target, with that line's server path in earlier.
    bool Add(const std::string& serverPath, const std::string& localPath, std::string& earlier);

    // True when a line taken so far has the target of localPath.
    bool Has(const std::string& localPath) const;

private:
    std::map<std::string, std::string> m_mapLines; // target key -> server path of its line
};

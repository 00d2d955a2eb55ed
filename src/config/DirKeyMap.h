// The special-directory keys that list-file target paths may begin with ("_FONTS\a.ttf"),
// and the folders of this machine they stand for.
#pragma once

#include "platform/KnownFolders.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

class DownFileItem;

class CDirKeyMap {
public:
    // Where the seven system-named folders come from; tests give their own.
    using FolderSource = std::function<std::string(plat::SpecialFolder)>;

    // Fills the nine keys: seven special folders, then "_SYSTEM_32BIT" and
    // "_PROGRAM_FILES_32BIT" decided by whether SysWOW64 and "Program Files (x86)" exist.
    // Logs one DEBUG line per key.
    void LoadSpecialDirMap(const FolderSource& source = FolderSource());

    // Writes the key's value into value and returns true; leaves value alone for an
    // unknown key.
    bool GetSpecialDir(const std::string& key, std::string& value) const;

    // Rewrites the item's target path when it begins with a key (matched exactly, case
    // included) followed by a separator: the key is replaced by its folder.
    void ExpandSpecialDirPath(DownFileItem& item) const;

    // Logs the number of entries and removes them all.
    void ClearSpecialDirMap();

    std::size_t GetCount() const { return m_entries.size(); }

private:
    std::vector<std::pair<std::string, std::string>> m_entries; // in load order
};

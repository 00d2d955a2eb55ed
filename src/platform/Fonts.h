// Making font files available to the desktop session.
#pragma once

#include <string>

namespace plat {

// The fonts folder below the Windows folder. Windows: windowsDir + "\fonts" (file names do
// not depend on case). POSIX: the entry of that name as the Wine prefix spells it ("Fonts").
std::string FontsFolder(const std::string& windowsDir);

// Adds the fonts of a font file of the fonts folder, named by its bare file name (Windows:
// AddFontResource, available until the system restarts). POSIX: the file of that name in
// the Windows fonts folder of the Wine prefix is copied into the user's fonts folder and the
// font cache is refreshed when fc-cache exists. Returns the number of fonts added, 0 on
// failure (LastErrorCode).
int AddFontFile(const std::string& fileName);

// Removes the fonts a file added (Windows: RemoveFontResource; POSIX: the copy in the user's
// fonts folder). False when nothing was removed (LastErrorCode).
bool RemoveFontFile(const std::string& fileName);

} // namespace plat

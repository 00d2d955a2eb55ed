// Win32 font resources.
#include "platform/Fonts.h"
#include "platform/win32/WinText.h"

#include <windows.h>

namespace plat {

std::string FontsFolder(const std::string& windowsDir) {
    return windowsDir + "\\fonts";
}

int AddFontFile(const std::string& fileName) {
    return ::AddFontResourceW(Wide(fileName).c_str());
}

bool RemoveFontFile(const std::string& fileName) {
    return ::RemoveFontResourceW(Wide(fileName).c_str()) != 0;
}

} // namespace plat

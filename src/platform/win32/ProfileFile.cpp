// Settings files on Windows: the system's profile-string functions, which read and write the
// file in the ANSI code page.
#include "platform/ProfileFile.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "platform/win32/ReadOnly.h"
#include "platform/win32/WinText.h"

#include <windows.h>

// <windows.h> maps this name to WriteProfileStringW, the function for win.ini.
#undef WriteProfileString

#include <vector>

namespace plat {

namespace {

// GetPrivateProfileStringW fills at most size - 1 characters; a value that did not fit shows
// as size - 1 characters, or size - 2 when the cut dropped its closing quote. Only a shorter
// result is known to be whole.
constexpr DWORD kFirstWideSize = 1024;
constexpr DWORD kLargestWideSize = 1u << 24;

std::wstring ReadWholeValue(const std::wstring& path, const std::wstring& section,
                            const std::wstring& key, const std::wstring& defaultValue) {
    std::vector<wchar_t> buf(kFirstWideSize);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buf.size());
        const DWORD n = ::GetPrivateProfileStringW(
            section.c_str(), key.c_str(), defaultValue.c_str(), buf.data(), size, path.c_str());
        if (n + 2 < size || size >= kLargestWideSize)
            return std::wstring(buf.data(), n);
        buf.assign(static_cast<std::size_t>(size) * 2, L'\0');
    }
}

// Length of the longest prefix of ANSI text within maxBytes that ends on a character
// boundary of the ANSI code page (a lead byte of a double-byte character takes its trail).
std::size_t AnsiFitLength(const std::string& ansi, std::size_t maxBytes) {
    std::size_t fit = 0;
    while (fit < ansi.size()) {
        const auto c = static_cast<BYTE>(ansi[fit]);
        const std::size_t step = ::IsDBCSLeadByte(c) && fit + 1 < ansi.size() ? 2 : 1;
        if (fit + step > maxBytes)
            break;
        fit += step;
    }
    return fit;
}

} // namespace

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t maxBytes) {
    if (maxBytes == 0)
        return std::string();
    const std::wstring wide =
        ReadWholeValue(Wide(path), Wide(section), Wide(key), Wide(defaultValue));
    const std::string ansi = Utf8ToAnsi(Narrow(wide));
    return AnsiToUtf8(std::string_view(ansi).substr(0, AnsiFitLength(ansi, maxBytes - 1)));
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
    if (RefuseReadOnly(Wide(path)))
        return false;
    return ::WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(),
                                        Wide(value).c_str(), Wide(path).c_str()) != 0;
}

} // namespace plat

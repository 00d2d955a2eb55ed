// Win32 text conversion through MultiByteToWideChar / WideCharToMultiByte.
#include "platform/Text.h"
#include "platform/win32/WinText.h"

#include <windows.h>

namespace plat {

namespace {

std::wstring ToWide(UINT codePage, std::string_view text) {
    if (text.empty())
        return std::wstring();
    const int len = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(codePage, 0, text.data(), len, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), len, &out[0], n);
    return out;
}

std::string FromWide(UINT codePage, std::wstring_view text) {
    if (text.empty())
        return std::string();
    const int len = static_cast<int>(text.size());
    const int n =
        ::WideCharToMultiByte(codePage, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), len, &out[0], n, nullptr, nullptr);
    return out;
}

} // namespace

std::wstring Wide(std::string_view utf8) {
    return ToWide(CP_UTF8, utf8);
}

std::string Narrow(std::wstring_view wide) {
    return FromWide(CP_UTF8, wide);
}

unsigned AnsiCodePage() {
    return ::GetACP();
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    const std::wstring wide = Wide(utf8);
    return std::u16string(wide.begin(), wide.end());
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    return Narrow(std::wstring(utf16.begin(), utf16.end()));
}

bool Utf8ToCp949(std::string_view utf8, std::string& cp949) {
    cp949.clear();
    if (utf8.empty())
        return true;
    const int nUtf8 = static_cast<int>(utf8.size());
    const int nWide =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), nUtf8, nullptr, 0);
    if (nWide <= 0)
        return false;
    std::wstring wide(static_cast<std::size_t>(nWide), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), nUtf8, &wide[0], nWide);
    BOOL bDefault = FALSE;
    const int n = ::WideCharToMultiByte(949, WC_NO_BEST_FIT_CHARS, wide.data(), nWide, nullptr, 0,
                                        nullptr, &bDefault);
    if (n <= 0 || bDefault)
        return false;
    cp949.assign(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(949, WC_NO_BEST_FIT_CHARS, wide.data(), nWide, &cp949[0], n, nullptr,
                          &bDefault);
    return !bDefault;
}

bool Cp949ToUtf8(std::string_view cp949, std::string& utf8) {
    utf8.clear();
    if (cp949.empty())
        return true;
    const int len = static_cast<int>(cp949.size());
    const int n = ::MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, cp949.data(), len, nullptr, 0);
    if (n <= 0)
        return false;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, cp949.data(), len, &wide[0], n);
    utf8 = Narrow(wide);
    return true;
}

std::string AnsiToUtf8(std::string_view ansi) {
    return Narrow(ToWide(CP_ACP, ansi));
}

std::string Utf8ToAnsi(std::string_view utf8) {
    return FromWide(CP_ACP, Wide(utf8));
}

} // namespace plat

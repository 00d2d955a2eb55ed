#include "support/TestPolicy.h"

#if defined(_WIN32)
#include <windows.h>

#include <atomic>
#else
#include "platform/ProfileFile.h"
#endif

namespace kstest {

#if defined(_WIN32)

namespace {

std::wstring WideText(const std::string& utf8) {
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

bool SetValue(const std::string& location, const std::string& key, DWORD nType, const void* data,
              std::size_t size) {
    HKEY hKey = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, WideText(location).c_str(), 0, nullptr, 0,
                          KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &hKey,
                          nullptr) != ERROR_SUCCESS)
        return false;
    const LSTATUS rc = ::RegSetValueExW(hKey, WideText(key).c_str(), 0, nType,
                                        static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    ::RegCloseKey(hKey);
    return rc == ERROR_SUCCESS;
}

} // namespace

TestPolicy::TestPolicy() {
    static std::atomic<unsigned> counter{0};
    m_strLocation = "Software\\Policies\\KestrelSync-test-" +
                    std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

TestPolicy::~TestPolicy() {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, WideText(m_strLocation).c_str(), KEY_WOW64_64KEY, 0);
}

bool TestPolicy::SetText(const std::string& key, const std::string& text) {
    const std::wstring wide = WideText(text);
    return SetValue(m_strLocation, key, REG_SZ, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
}

bool TestPolicy::SetNumber(const std::string& key, std::uint32_t n) {
    const DWORD value = n;
    return SetValue(m_strLocation, key, REG_DWORD, &value, sizeof value);
}

bool TestPolicy::SetOtherType(const std::string& key, const std::string& bytes,
                              const std::string&) {
    return SetValue(m_strLocation, key, REG_BINARY, bytes.data(), bytes.size());
}

#else

TestPolicy::TestPolicy() : m_strLocation(m_dir / "policy.ini") {}

TestPolicy::~TestPolicy() = default;

bool TestPolicy::SetText(const std::string& key, const std::string& text) {
    return plat::WriteProfileString(m_strLocation, "VENTO", key, text);
}

bool TestPolicy::SetNumber(const std::string& key, std::uint32_t n) {
    return SetText(key, std::to_string(n));
}

bool TestPolicy::SetOtherType(const std::string& key, const std::string&,
                              const std::string& posixText) {
    return SetText(key, posixText);
}

#endif

} // namespace kstest

// The policy on Windows: values of a key below HKEY_LOCAL_MACHINE, where Group Policy writes
// them, read in the 64-bit view whatever this program's build.
#include "platform/PolicyStore.h"

#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <cstring>

namespace plat {

namespace {

class CRegKey {
public:
    CRegKey() = default;
    ~CRegKey() {
        if (m_hKey != nullptr)
            ::RegCloseKey(m_hKey);
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    HKEY* Out() { return &m_hKey; }
    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

std::string TypeName(DWORD nType) {
    switch (nType) {
    case REG_NONE:
        return "REG_NONE";
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_BINARY:
        return "REG_BINARY";
    case REG_DWORD:
        return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
        return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK:
        return "REG_LINK";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    case REG_QWORD:
        return "REG_QWORD";
    default:
        return "type " + std::to_string(nType);
    }
}

// The raw data of one value; a value that grows between the two calls is asked for again.
LSTATUS QueryValue(HKEY hKey, const std::wstring& name, DWORD& nType, std::string& data) {
    for (;;) {
        DWORD nSize = 0;
        LSTATUS rc = ::RegQueryValueExW(hKey, name.c_str(), nullptr, &nType, nullptr, &nSize);
        if (rc != ERROR_SUCCESS)
            return rc;
        data.assign(nSize, '\0');
        rc = ::RegQueryValueExW(hKey, name.c_str(), nullptr, &nType,
                                reinterpret_cast<BYTE*>(data.data()), &nSize);
        if (rc == ERROR_MORE_DATA)
            continue;
        data.resize(rc == ERROR_SUCCESS ? nSize : 0);
        return rc;
    }
}

// The value as the policy reads it: REG_SZ up to its first NUL (stored without one or not),
// REG_DWORD as decimal text; anything else not usable.
PolicyValue ToPolicyValue(DWORD nType, const std::string& data) {
    PolicyValue value;
    value.strType = TypeName(nType);
    if (nType == REG_SZ) {
        std::wstring text(data.size() / sizeof(wchar_t), L'\0');
        std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
        value.strText = Narrow(text.substr(0, text.find(L'\0')));
        value.bUsable = true;
    } else if (nType == REG_DWORD && data.size() == sizeof(DWORD)) {
        DWORD n = 0;
        std::memcpy(&n, data.data(), sizeof n);
        value.strText = std::to_string(n);
        value.bUsable = true;
    }
    return value;
}

} // namespace

std::string DefaultPolicyLocation() {
    return "Software\\Policies\\KestrelSync";
}

int ReadPolicyValues(const std::string& location, const std::vector<std::string>& names,
                     std::map<std::string, PolicyValue>& values) {
    values.clear();
    CRegKey key;
    LSTATUS rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(location).c_str(), 0,
                                 KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Out());
    if (rc == ERROR_FILE_NOT_FOUND)
        return 0;
    std::map<std::string, PolicyValue> found;
    for (std::size_t i = 0; rc == ERROR_SUCCESS && i < names.size(); ++i) {
        DWORD nType = REG_NONE;
        std::string data;
        rc = QueryValue(key.Get(), Wide(names[i]), nType, data);
        if (rc == ERROR_SUCCESS)
            found[names[i]] = ToPolicyValue(nType, data);
        else if (rc == ERROR_FILE_NOT_FOUND)
            rc = ERROR_SUCCESS;
    }
    if (rc != ERROR_SUCCESS) {
        SetLastErrorCode(static_cast<int>(rc));
        return -1;
    }
    values = std::move(found);
    return 0;
}

bool PolicyReadableByOthers(const std::string& location) {
    (void)location;
    return true;
}

} // namespace plat

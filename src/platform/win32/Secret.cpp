// DPAPI with the machine's key: any account of this machine may read the secret back.
#include "platform/Secret.h"

#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <dpapi.h>

#include <cstdio>
#include <memory>

namespace plat {

namespace {

struct LocalFreer {
    void operator()(BYTE* data) const { ::LocalFree(data); }
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Wipes the clear text DPAPI handed out before it is freed.
void WipeBlob(DATA_BLOB& blob) {
    if (blob.pbData != nullptr)
        ::SecureZeroMemory(blob.pbData, blob.cbData);
}

} // namespace

int ProtectSecret(const std::string& secret, const std::string& path) {
    DATA_BLOB in{static_cast<DWORD>(secret.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()))};
    DATA_BLOB out{};
    if (!::CryptProtectData(&in, L"KestrelSync", nullptr, nullptr, nullptr,
                            CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        SetLastErrorCode(static_cast<int>(::GetLastError()));
        return -1;
    }
    const std::unique_ptr<BYTE, LocalFreer> owned(out.pbData);
    const std::string bytes(reinterpret_cast<const char*>(out.pbData), out.cbData);
    return WriteWholeFile(path, bytes, true) ? 0 : -1;
}

int UnprotectSecret(const std::string& path, std::string& secret) {
    secret.clear();
    const std::unique_ptr<std::FILE, FileCloser> file(::_wfopen(Wide(path).c_str(), L"rb"));
    if (!file) {
        SetLastErrorCode(kErrFileNotFound);
        return -1;
    }
    std::string bytes;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
        bytes.append(buffer, n);
    DATA_BLOB in{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
    DATA_BLOB out{};
    if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                              &out)) {
        SetLastErrorCode(static_cast<int>(::GetLastError()));
        return -1;
    }
    const std::unique_ptr<BYTE, LocalFreer> owned(out.pbData);
    secret.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    WipeBlob(out);
    return 0;
}

} // namespace plat

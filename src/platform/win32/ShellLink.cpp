// Win32 shortcuts: shell links written and read through the shell's IShellLinkW object.
#include "platform/ShellLink.h"

#include "platform/FileSystem.h"
#include "platform/win32/ReadOnly.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <cwchar>

namespace plat {

namespace {

constexpr int kNoShellLink = -1;
constexpr int kNoFileInterface = -2;
constexpr int kNotSaved = -3;

// Room for the longest Windows path and its terminating NUL.
constexpr int kPathCapacity = 32768;

// Joins the calling thread to a single-threaded apartment for the object's lifetime and leaves
// it again. A thread already in the multithreaded apartment (RPC_E_CHANGED_MODE) can use the
// shell object there and must not be taken out of it.
class ComApartment {
public:
    ComApartment() : m_hr(::CoInitialize(nullptr)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT m_hr;
};

// Owns one reference to a COM interface.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* operator->() const { return m_p; }
    // Where CoCreateInstance or QueryInterface stores the reference this object then owns.
    void** Receive() {
        Reset();
        return reinterpret_cast<void**>(&m_p);
    }

private:
    void Reset() {
        if (m_p != nullptr)
            m_p->Release();
        m_p = nullptr;
    }

    T* m_p = nullptr;
};

// A result of CreateShortcut and, for a failure, the Windows error code that explains it.
struct Outcome {
    int nResult;
    DWORD dwError;
};

// The Windows error code behind a failed call: the code an HRESULT carries when it wraps one,
// else what the call left as the thread's last error. Read right after the call, before any
// Release or CoUninitialize can change the last error.
DWORD ErrorOf(HRESULT hr) {
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
        return static_cast<DWORD>(HRESULT_CODE(hr));
    return ::GetLastError();
}

Outcome SaveLink(const std::wstring& linkPath, const std::wstring& target,
                 const std::wstring& arguments) {
    const ComApartment apartment;
    ComRef<IShellLinkW> link;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    link.Receive());
    if (FAILED(hr))
        return {kNoShellLink, ErrorOf(hr)};
    hr = link->SetPath(target.c_str());
    if (FAILED(hr))
        return {kNotSaved, ErrorOf(hr)};
    if (!arguments.empty()) {
        hr = link->SetArguments(arguments.c_str());
        if (FAILED(hr))
            return {kNotSaved, ErrorOf(hr)};
    }
    ComRef<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, file.Receive());
    if (FAILED(hr))
        return {kNoFileInterface, ErrorOf(hr)};
    hr = file->Save(linkPath.c_str(), TRUE);
    if (FAILED(hr))
        return {kNotSaved, ErrorOf(hr)};
    return {0, ERROR_SUCCESS};
}

std::wstring LoadLinkTarget(const std::wstring& linkPath) {
    const ComApartment apartment;
    ComRef<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.Receive())))
        return std::wstring();
    ComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.Receive())) ||
        FAILED(file->Load(linkPath.c_str(), STGM_READ)))
        return std::wstring();
    std::wstring path(kPathCapacity, L'\0');
    // S_FALSE: the link leads to something that is not a file.
    if (link->GetPath(&path[0], kPathCapacity, nullptr, SLGP_RAWPATH) != S_OK)
        return std::wstring();
    path.resize(std::wcslen(path.c_str()));
    return path;
}

} // namespace

const char* ShortcutExtension() {
    return ".lnk";
}

int CreateShortcut(const std::string& linkPath, const std::string& target,
                   const std::string& arguments) {
    if (RefuseReadOnly(Wide(linkPath)))
        return kNotSaved;
    // The error code is set once the shell object and the apartment are released.
    const Outcome outcome = SaveLink(Wide(linkPath), Wide(target), Wide(arguments));
    if (outcome.nResult != 0)
        ::SetLastError(outcome.dwError);
    return outcome.nResult;
}

std::string ReadShortcutTarget(const std::string& linkPath) {
    return Narrow(LoadLinkTarget(Wide(linkPath)));
}

} // namespace plat

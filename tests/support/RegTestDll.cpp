// A COM server stand-in for the registration tests: DllRegisterServer writes the current
// folder it was called in to "registered.txt" beside the DLL.
#include <windows.h>

#include <cstdio>

namespace {

HMODULE g_self = nullptr;

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT DllRegisterServer() {
    wchar_t cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(g_self, path, MAX_PATH);
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash == nullptr)
        return E_FAIL;
    wcscpy(slash + 1, L"registered.txt");
    FILE* fp = _wfopen(path, L"wb");
    if (fp == nullptr)
        return E_FAIL;
    char utf8[MAX_PATH * 3] = {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, cwd, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (n > 1)
        fwrite(utf8, 1, static_cast<size_t>(n - 1), fp);
    fclose(fp);
    return S_OK;
}

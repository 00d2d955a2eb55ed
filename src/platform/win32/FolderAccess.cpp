// Win32 folder access: a security descriptor written as SDDL.
#include "platform/FolderAccess.h"

#include "platform/win32/WinText.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace plat {

bool RestrictFolderWriters(const std::string& path) {
    // Owner Administrators; protected DACL: SYSTEM and Administrators full control, Users read
    // and list (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), inherited by files and folders.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1,
            &descriptor, nullptr))
        return false;
    BOOL bPresent = FALSE;
    BOOL bDefaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &bPresent, &dacl, &bDefaulted);
    ::GetSecurityDescriptorOwner(descriptor, &owner, &bDefaulted);
    std::wstring wide = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    DWORD r = ERROR_ACCESS_DENIED;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        r = ::GetLastError();
    else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
             (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        r = ::SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                        PROTECTED_DACL_SECURITY_INFORMATION,
                                    owner, nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
    ::SetLastError(r);
    return r == ERROR_SUCCESS;
}

} // namespace plat

// errno to Windows system error codes, shared by the POSIX platform side only.
#pragma once

#include <string>

namespace plat {

// The Windows code FileSystem.h documents for an errno value met while working on path
// (ENOENT becomes kErrPathNotFound when a folder on the way is missing).
int WindowsErrorFromErrno(int e, const std::string& path);

} // namespace plat

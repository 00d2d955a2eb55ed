// The read-only attribute on the Win32 side only.
#pragma once

#include <string>

namespace plat {

// True, with ERROR_ACCESS_DENIED as the last error, when path is an existing read-only file
// (not a folder). Windows refuses writes into such a file by itself; Wine running as root does
// not, so every write of this layer asks here first.
bool RefuseReadOnly(const std::wstring& path);

} // namespace plat

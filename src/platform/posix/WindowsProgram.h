// Whether a file is a Windows program, which the POSIX side runs through wine (POSIX platform
// side only).
#pragma once

#include "platform/posix/Fd.h"

#include <fcntl.h>
#include <string>

namespace plat {

// A Windows program is a file that begins with "MZ".
inline bool IsWindowsProgram(const std::string& path) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char magic[2] = {};
    return fd.get() >= 0 && ::read(fd.get(), magic, sizeof magic) == 2 && magic[0] == 'M' &&
           magic[1] == 'Z';
}

} // namespace plat

// The running process.
#pragma once

#include <string>

namespace plat {

// Full path of the running executable (UTF-8), or an empty string when the system cannot tell.
std::string GetModulePath();

} // namespace plat

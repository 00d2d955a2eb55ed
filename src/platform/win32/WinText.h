// UTF-8 <-> wide strings for Win32 calls. Used only inside the Win32 platform side.
#pragma once

#include <string>
#include <string_view>

namespace plat {

std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

} // namespace plat

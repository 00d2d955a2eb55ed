// The request-line form of an object path, the same on every platform.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// objectPath as the request line carries it: "\" becomes "/"; blanks, control characters,
// "#" (which would end the path as a fragment) and bytes from 0x80 up become %XX with
// uppercase hex digits; "%" and every other printable character stay as given, so a path the
// caller already percent-encoded is sent unchanged. A path that does not start with "/" gets
// one in front.
std::string HttpRequestPath(std::string_view objectPath);

} // namespace plat

// The request-line form of an object path, and the other text rules the HTTP clients of
// both platforms share.
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

// Whether two header names (or other ASCII tokens) are the same without regard to case.
bool EqualNoCase(std::string_view a, std::string_view b);

// Whether host names the local machine's loopback ("localhost", 127.x.x.x, ::1): such
// requests never go through a proxy.
bool IsLoopbackHost(std::string_view host);

} // namespace plat

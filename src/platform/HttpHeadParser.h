// The response heads of pipelined HEAD requests, read off a raw byte stream. Only heads that
// the one-by-one clients (libcurl, WinINet) would take as well are taken: everything doubtful
// is refused, so that its request is asked again one by one and the client of every other
// request decides, never this parser.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat {

struct HttpResponseHead {
    int nStatus = 0;        // 100 to 599, never 101
    bool bKeepAlive = true; // false: the server ends the connection after this answer
    std::vector<std::pair<std::string, std::string>> headers; // those named by keepHeaders
};

// The longest head taken, with the blank line that ends it.
inline constexpr std::size_t kResponseHeadMax = 65536;
// The longest value taken for a kept header.
inline constexpr std::size_t kKeptValueMax = 1024;
// Parse results besides a head's length.
inline constexpr long kHeadIncomplete = 0;
inline constexpr long kHeadRefused = -1;

class CHttpHeadParser {
public:
    explicit CHttpHeadParser(std::vector<std::string> keepHeaders)
        : m_keepHeaders(std::move(keepHeaders)) {}

    // The response head at the start of text, in head (reset first): its length with the
    // blank line that ends it; kHeadIncomplete when its end has not come yet (every line so
    // far is sound and the head is shorter than kResponseHeadMax); kHeadRefused when it is no
    // head to take: no "HTTP/1.0" or "HTTP/1.1" status line with a status from 100 to 599
    // (101 refused), a byte of 0x00-0x1F (but HTAB) or 0x7F within a line, a header line
    // that is no token name with ":" right after it (a folded line, a blank before ":"), a
    // Content-Length other than 1 to 18 digits or differing from an earlier one, a kept
    // header longer than kKeptValueMax or differing from an earlier one of its name, or no
    // end within kResponseHeadMax. Lines end with LF, optionally after one CR. A head that is
    // taken is taken the same way when it arrives in pieces.
    long Parse(std::string_view text, HttpResponseHead& head) const;

private:
    struct CHeadState;
    bool TakeStatusLine(std::string_view line, HttpResponseHead& head, CHeadState& state) const;
    bool TakeHeaderLine(std::string_view line, HttpResponseHead& head, CHeadState& state) const;
    bool Keep(std::string_view name, std::string_view value, HttpResponseHead& head) const;

    std::vector<std::string> m_keepHeaders;
};

} // namespace plat

// Response heads of pipelined HEAD requests; stricter than any one-by-one client, so that an
// answer taken here is one that client would have taken with the same values.
#include "platform/HttpHeadParser.h"

#include "platform/HttpPath.h"

#include <algorithm>
#include <cstring>

namespace plat {

namespace {

// Content-Length values up to this many digits fit every client's 64-bit size.
constexpr std::size_t kLengthDigitsMax = 18;

bool IsTokenChar(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

// Visible characters, blanks and bytes from 0x80 up; no other control character.
bool IsFieldText(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t') || byte == 0x7F;
    });
}

bool IsDigits(std::string_view text, std::size_t nMax) {
    return !text.empty() && text.size() <= nMax &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool HasToken(std::string_view list, std::string_view token) {
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (EqualNoCase(TrimBlanks(list.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

} // namespace

struct CHttpHeadParser::CHeadState {
    bool bHttp10 = false;
    bool bClose = false;     // "Connection: close"
    bool bKeepAlive = false; // "Connection: keep-alive"
    bool bLength = false;
    std::string_view length;
};

long CHttpHeadParser::Parse(std::string_view text, HttpResponseHead& head) const {
    head = HttpResponseHead();
    CHeadState state;
    std::size_t pos = 0;
    for (bool bFirst = true;; bFirst = false) {
        const std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            return text.size() >= kResponseHeadMax ? kHeadRefused : kHeadIncomplete;
        if (eol >= kResponseHeadMax)
            return kHeadRefused;
        std::string_view line = text.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos = eol + 1;
        if (!IsFieldText(line))
            return kHeadRefused;
        if (bFirst) {
            if (!TakeStatusLine(line, head, state))
                return kHeadRefused;
        } else if (line.empty()) {
            head.bKeepAlive = !state.bClose && (!state.bHttp10 || state.bKeepAlive);
            return static_cast<long>(pos);
        } else if (!TakeHeaderLine(line, head, state)) {
            return kHeadRefused;
        }
    }
}

// "HTTP/1.1 200 OK", "HTTP/1.0 404", ...
bool CHttpHeadParser::TakeStatusLine(std::string_view line, HttpResponseHead& head,
                                     CHeadState& state) const {
    if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || (line[7] != '0' && line[7] != '1') ||
        line[8] != ' ' || !IsDigits(line.substr(9, 3), 3) || (line.size() > 12 && line[12] != ' '))
        return false;
    head.nStatus = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    state.bHttp10 = line[7] == '0';
    return head.nStatus >= 100 && head.nStatus <= 599 && head.nStatus != 101;
}

bool CHttpHeadParser::TakeHeaderLine(std::string_view line, HttpResponseHead& head,
                                     CHeadState& state) const {
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos)
        return false;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (!std::all_of(name.begin(), name.end(),
                     [](char c) { return IsTokenChar(static_cast<unsigned char>(c)); }))
        return false;
    if (EqualNoCase(name, "Content-Length")) {
        if (!IsDigits(value, kLengthDigitsMax) || (state.bLength && value != state.length))
            return false;
        state.bLength = true;
        state.length = value;
    } else if (EqualNoCase(name, "Connection")) {
        state.bClose = state.bClose || HasToken(value, "close");
        state.bKeepAlive = state.bKeepAlive || HasToken(value, "keep-alive");
    }
    return Keep(name, value, head);
}

// False when a kept header is too long or names a value other than an earlier one.
bool CHttpHeadParser::Keep(std::string_view name, std::string_view value,
                           HttpResponseHead& head) const {
    if (std::none_of(m_keepHeaders.begin(), m_keepHeaders.end(),
                     [&](const std::string& kept) { return EqualNoCase(kept, name); }))
        return true;
    if (value.size() > kKeptValueMax)
        return false;
    for (const auto& header : head.headers) {
        if (EqualNoCase(header.first, name))
            return header.second == value;
    }
    head.headers.emplace_back(std::string(name), std::string(value));
    return true;
}

} // namespace plat

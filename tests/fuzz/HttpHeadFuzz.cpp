// Fuzz target: arbitrary bytes as the answers on a pipelined HEAD stream, through the response
// head parser, with the rules the pipeline relies on checked for every head it takes.
#include "platform/HttpHeadParser.h"
#include "platform/HttpPath.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The rules for one head taken from text with the given length.
void CheckTaken(const plat::CHttpHeadParser& parser, std::string_view text, long length,
                const plat::HttpResponseHead& head) {
    const auto size = static_cast<std::size_t>(length);
    if (size > text.size() || size > plat::kResponseHeadMax)
        __builtin_trap();
    if (head.nStatus < 100 || head.nStatus > 599 || head.nStatus == 101)
        __builtin_trap();
    if (std::memchr(text.data(), '\0', size) != nullptr)
        __builtin_trap();
    for (const auto& header : head.headers) {
        if (header.second.size() > plat::kKeptValueMax)
            __builtin_trap();
        if (plat::EqualNoCase(header.first, "Content-Length") && !IsDigits(header.second))
            __builtin_trap();
    }
    // A head that came in pieces is awaited, never refused, and the same head taken alone is
    // taken the same.
    plat::HttpResponseHead again;
    if (parser.Parse(text.substr(0, size - 1), again) != plat::kHeadIncomplete ||
        parser.Parse(text.substr(0, size / 2), again) != plat::kHeadIncomplete)
        __builtin_trap();
    if (parser.Parse(text.substr(0, size), again) != length || again.nStatus != head.nStatus ||
        again.bKeepAlive != head.bKeepAlive || again.headers != head.headers)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const plat::CHttpHeadParser parser({"Content-Length", "Last-Modified"});
    std::string_view text(reinterpret_cast<const char*>(data), size);
    plat::HttpResponseHead head;
    // One answer after the other, as the pipeline reads them.
    while (!text.empty()) {
        const long length = parser.Parse(text, head);
        if (length == plat::kHeadIncomplete && text.size() >= plat::kResponseHeadMax)
            __builtin_trap();
        if (length <= 0)
            break;
        CheckTaken(parser, text, length, head);
        text.remove_prefix(static_cast<std::size_t>(length));
    }
    return 0;
}

// Portable UTF-8 helpers shared by both platform sides.
#include "platform/Text.h"

namespace plat {

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the sequence a lead byte announces, 1 for a byte that leads nothing.
std::size_t SequenceLength(unsigned char c) {
    if (c >= 0xF0 && c <= 0xF4)
        return 4;
    if (c >= 0xE0 && c <= 0xEF)
        return 3;
    if (c >= 0xC2 && c <= 0xDF)
        return 2;
    return 1;
}

} // namespace

std::size_t Utf8FitLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text.size();
    const std::size_t n = maxBytes;
    if (!IsContinuation(static_cast<unsigned char>(text[n])))
        return n;
    // text[n] continues a character; drop that character when its lead byte lies before n.
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(text[n - back]);
        if (!IsContinuation(c))
            return SequenceLength(c) > back ? n - back : n;
    }
    return n;
}

std::size_t Utf8CharCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = SequenceLength(static_cast<unsigned char>(text[i]));
        std::size_t j = i + 1;
        while (j < i + len && j < text.size() &&
               IsContinuation(static_cast<unsigned char>(text[j])))
            ++j;
        i = j;
        ++count;
    }
    return count;
}

} // namespace plat

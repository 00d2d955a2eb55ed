// POSIX text conversion: the ANSI code page is UTF-8; UTF-16 is converted here with the same
// replacement rules as Windows (each maximal invalid subpart becomes one U+FFFD).
#include "platform/Text.h"

#include <iconv.h>

namespace plat {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool InRange(unsigned char c, unsigned char lo, unsigned char hi) {
    return c >= lo && c <= hi;
}

// Decodes one code point at text[i]; advances i past the valid part consumed.
char32_t DecodeOne(std::string_view text, std::size_t& i) {
    const auto c0 = static_cast<unsigned char>(text[i++]);
    if (c0 < 0x80)
        return c0;
    std::size_t need = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (InRange(c0, 0xC2, 0xDF)) {
        need = 1;
        cp = c0 & 0x1F;
    } else if (InRange(c0, 0xE0, 0xEF)) {
        need = 2;
        cp = c0 & 0x0F;
        lo = c0 == 0xE0 ? 0xA0 : 0x80;
        hi = c0 == 0xED ? 0x9F : 0xBF;
    } else if (InRange(c0, 0xF0, 0xF4)) {
        need = 3;
        cp = c0 & 0x07;
        lo = c0 == 0xF0 ? 0x90 : 0x80;
        hi = c0 == 0xF4 ? 0x8F : 0xBF;
    } else {
        return kReplacement;
    }
    for (std::size_t k = 0; k < need; ++k) {
        if (i >= text.size())
            return kReplacement;
        const auto c = static_cast<unsigned char>(text[i]);
        if (!InRange(c, k == 0 ? lo : 0x80, k == 0 ? hi : 0xBF))
            return kReplacement;
        cp = (cp << 6) | (c & 0x3F);
        ++i;
    }
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

unsigned AnsiCodePage() {
    return 65001;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = DecodeOne(utf8, i);
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size() * 3);
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

namespace {

bool Iconv(const char* to, const char* from, std::string_view in, std::string& out) {
    out.clear();
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string buf(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t nSrc = in.size();
    char* dst = &buf[0];
    std::size_t nDst = buf.size();
    const bool bOk = ::iconv(cd, &src, &nSrc, &dst, &nDst) != static_cast<std::size_t>(-1) &&
                     ::iconv(cd, nullptr, nullptr, &dst, &nDst) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    if (bOk)
        out.assign(buf.data(), buf.size() - nDst);
    return bOk;
}

} // namespace

bool Utf8ToCp949(std::string_view utf8, std::string& cp949) {
    return Iconv("CP949", "UTF-8", utf8, cp949);
}

bool Cp949ToUtf8(std::string_view cp949, std::string& utf8) {
    return Iconv("UTF-8", "CP949", cp949, utf8);
}

std::string AnsiToUtf8(std::string_view ansi) {
    return std::string(ansi);
}

std::string Utf8ToAnsi(std::string_view utf8) {
    return std::string(utf8);
}

} // namespace plat

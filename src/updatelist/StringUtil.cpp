#include "updatelist/StringUtil.h"

#include <cstdint>
#include <cstdio>

void SplitString(std::vector<std::string>& fields, const std::string& separators,
                 const std::string& text) {
    bool bIsSeparator[256] = {};
    for (const char c : separators)
        bIsSeparator[static_cast<unsigned char>(c)] = true;
    bool bInQuotes = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (bInQuotes) {
            if (c == '\\') {
                ++i; // the next byte can neither end the field nor start anything
            } else if (c == '"') {
                fields.push_back(text.substr(start, i - start));
                start = i + 1;
                bInQuotes = false;
            }
        } else if (c == '"' || bIsSeparator[static_cast<unsigned char>(c)]) {
            if (i > start)
                fields.push_back(text.substr(start, i - start));
            start = i + 1;
            bInQuotes = c == '"';
        }
    }
    if (start < text.size())
        fields.push_back(text.substr(start));
}

std::string ExtractDigits(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (c >= '0' && c <= '9')
            digits += c;
    }
    return digits;
}

int FormatWithCommas(const std::string& number, std::string& result) {
    result.clear();
    const std::size_t n = number.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            result += ',';
        result += number[i];
    }
    return 0;
}

std::string TotalProgressText(int n, int nCount) {
    std::string text = std::to_string(n) + " / " + std::to_string(nCount) + "  (";
    // Tenths of a percent, rounded to the nearest. Away from a tie the double that printf
    // rounds lies far closer to the exact quotient than any rounding boundary, so both round
    // alike; at an exact tie printf decides, by the double's binary value.
    const std::int64_t q = static_cast<std::int64_t>(n) * 1000;
    const std::int64_t r = nCount > 0 ? q % nCount : 0;
    if (n < 0 || nCount <= 0 || nCount > 1000000 || 2 * r == nCount) {
        char percent[32];
        std::snprintf(percent, sizeof percent, "%3.1lf", n * 100.0 / nCount);
        return text + percent + "%)";
    }
    const std::int64_t tenths = q / nCount + (2 * r > nCount ? 1 : 0);
    return text + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%)";
}

std::string ToUpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string TrimWhite(const std::string& text) {
    const char* const white = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(white);
    if (first == std::string::npos)
        return std::string();
    const std::size_t last = text.find_last_not_of(white);
    return text.substr(first, last - first + 1);
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty())
        return text;
    for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
        text.replace(pos, from.size(), to);
    return text;
}

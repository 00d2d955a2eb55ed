#include "trust/SignedList.h"

#include "trust/Der.h"

#include <cctype>
#include <cstdio>

namespace {

bool AllDigits(const std::string& text) {
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return !text.empty();
}

// Line n (0-based) without its line end, or false when the text has fewer lines.
bool Line(const std::string& bytes, int n, std::string& line) {
    std::size_t start = 0;
    for (int i = 0; i < n; ++i) {
        const std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            return false;
        start = end + 1;
    }
    if (start >= bytes.size())
        return false;
    const std::size_t end = bytes.find('\n', start);
    line = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

// The first line longer than kSignedLineMax (1-based), or 0.
std::size_t FirstLongLine(const std::string& bytes) {
    std::size_t number = 1;
    for (std::size_t start = 0; start < bytes.size(); ++number) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::size_t length = end - start;
        if (length > 0 && bytes[end - 1] == '\r')
            --length;
        if (length > kSignedLineMax)
            return number;
        start = end + 1;
    }
    return 0;
}

int HexDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
           : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
           : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                       : -1;
}

} // namespace

bool IsSignedByAny(const std::string& bytes, const std::string& signature,
                   const std::vector<plat::CP256PublicKey>& keys, std::string& reason) {
    if (signature.empty()) {
        reason = "the signature is empty";
        return false;
    }
    std::array<std::uint8_t, 64> rs{};
    if (!ParseDerEcdsaSignature(signature, rs)) {
        reason = "the signature is not a DER ECDSA signature";
        return false;
    }
    plat::CSha256 sha;
    plat::Sha256Digest digest{};
    sha.Update(bytes.data(), bytes.size());
    if (!sha.Finish(digest)) {
        reason = "the system could not hash the list";
        return false;
    }
    for (const plat::CP256PublicKey& key : keys) {
        if (key.Verify(digest, rs))
            return true;
    }
    reason = "the signature matches none of the keys";
    return false;
}

std::string HexOfBytes(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
    }
    return text;
}

bool BytesOfHex(const std::string& text, std::string& bytes) {
    if (text.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

std::string WithCarriedSignature(const std::string& body, const std::string& signature) {
    return body + kCarriedSignaturePrefix + HexOfBytes(signature) + "\n";
}

bool SplitCarriedSignature(const std::string& bytes, std::string& body, std::string& signature) {
    std::size_t end = bytes.size();
    if (end > 0 && bytes[end - 1] == '\n')
        --end;
    if (end > 0 && bytes[end - 1] == '\r')
        --end;
    const std::size_t lineEnd = end == 0 ? std::string::npos : bytes.rfind('\n', end - 1);
    const std::size_t start = lineEnd == std::string::npos ? 0 : lineEnd + 1;
    const std::string prefix = kCarriedSignaturePrefix;
    if (bytes.compare(start, prefix.size(), prefix) != 0)
        return false;
    body = bytes.substr(0, start);
    signature.clear();
    if (!BytesOfHex(bytes.substr(start + prefix.size(), end - start - prefix.size()), signature))
        signature.clear();
    return true;
}

bool IsListSignedByAny(const std::string& bytes, const std::string& signature,
                       const std::vector<plat::CP256PublicKey>& keys, std::string& reason) {
    std::string body;
    std::string carried;
    if (!SplitCarriedSignature(bytes, body, carried))
        return IsSignedByAny(bytes, signature, keys, reason);
    if (carried.empty()) {
        reason = "the list's signature line is not hexadecimal";
        return false;
    }
    return IsSignedByAny(body, carried, keys, reason);
}

bool ListSerial(const std::string& bytes, std::int64_t& nSerial) {
    static const std::string kSerial = "#serial=";
    std::string line;
    if (!Line(bytes, 0, line) || line.compare(0, kSerial.size(), kSerial) != 0 ||
        !AllDigits(line.substr(kSerial.size())) || line.size() - kSerial.size() > 18)
        return false;
    nSerial = std::stoll(line.substr(kSerial.size()));
    return true;
}

CListVerdict VerifySignedList(const std::string& bytes, const std::string& signature,
                              const std::vector<plat::CP256PublicKey>& keys,
                              std::int64_t nKeptSerial, std::int64_t tNowUtc) {
    CListVerdict verdict;
    if (!IsListSignedByAny(bytes, signature, keys, verdict.strReason))
        return verdict;
    if (const std::size_t number = FirstLongLine(bytes)) {
        verdict.strReason = "line " + std::to_string(number) + " is longer than " +
                            std::to_string(kSignedLineMax) + " bytes";
        return verdict;
    }
    static const std::string kExpires = "#expires=";
    std::string line;
    if (!ListSerial(bytes, verdict.nSerial)) {
        verdict.strReason = "the first line is not \"#serial=N\" with 1 to 18 digits";
        return verdict;
    }
    if (verdict.nSerial < nKeptSerial) {
        verdict.strReason = "serial " + std::to_string(verdict.nSerial) +
                            " is lower than the serial " + std::to_string(nKeptSerial) +
                            " accepted before";
        return verdict;
    }
    if (Line(bytes, 1, line) && line.compare(0, kExpires.size(), kExpires) == 0) {
        const std::string digits = line.substr(kExpires.size());
        std::int64_t tExpires = 0;
        if (!UtcTimeFromDigits(digits, tExpires)) {
            verdict.strReason = "the expiry line is not \"#expires=YYYYMMDDhhmmss\"";
            return verdict;
        }
        if (tNowUtc > tExpires) {
            verdict.strReason = "the list expired at " + digits + " UTC";
            return verdict;
        }
    }
    verdict.bAccepted = true;
    return verdict;
}

bool ParseSha256Hex(const std::string& text, plat::Sha256Digest& digest) {
    if (text.size() != 64)
        return false;
    for (std::size_t i = 0; i < 32; ++i) {
        int value = 0;
        for (const char c : {text[2 * i], text[2 * i + 1]}) {
            const int d = HexDigit(c);
            if (d < 0)
                return false;
            value = value * 16 + d;
        }
        digest[i] = static_cast<std::uint8_t>(value);
    }
    return true;
}

std::string Sha256Hex(const plat::Sha256Digest& digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
    }
    return text;
}

std::string Sha256HexOf(std::string_view bytes) {
    plat::CSha256 sha;
    sha.Update(bytes.data(), bytes.size());
    plat::Sha256Digest digest{};
    return sha.Finish(digest) ? Sha256Hex(digest) : std::string();
}

bool UtcTimeFromDigits(const std::string& digits, std::int64_t& t) {
    if (digits.size() != 14 || !AllDigits(digits))
        return false;
    const auto field = [&digits](std::size_t pos, std::size_t n) {
        return std::stoi(digits.substr(pos, n));
    };
    const int year = field(0, 4), month = field(4, 2), day = field(6, 2);
    const int hour = field(8, 2), minute = field(10, 2), second = field(12, 2);
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool bLeap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
        (month == 2 && day == 29 && !bLeap) || hour > 23 || minute > 59 || second > 59)
        return false;
    // Days since 1970-01-01 of the civil date (the proleptic Gregorian calendar).
    const int y = month <= 2 ? year - 1 : year;
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = std::int64_t{era} * 146097 + doe - 719468;
    t = days * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::string UtcDigitsFromTime(std::int64_t t) {
    // The civil date of a day count since 1970-01-01 (the proleptic Gregorian calendar).
    const std::int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    const std::int64_t secs = t - days * 86400;
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", year, month, day,
                  static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60));
    return text;
}

std::vector<std::string> ListHeadLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size() && bytes[start] == '#') {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

#include "trust/Der.h"

#include <cstring>

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Strict base64 with "=" padding at the end only; blanks and line ends are skipped.
bool DecodeBase64(const std::string& text, std::vector<std::uint8_t>& out) {
    std::uint32_t bits = 0;
    int nBits = 0;
    int nPadding = 0;
    std::size_t nChars = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        ++nChars;
        if (c == '=') {
            ++nPadding;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0 || nPadding > 0)
            return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        nBits += 6;
        if (nBits >= 8) {
            nBits -= 8;
            out.push_back(static_cast<std::uint8_t>((bits >> nBits) & 0xFF));
        }
    }
    return nChars % 4 == 0 && nPadding <= 2 && !out.empty();
}

} // namespace

bool DecodePemBlocks(const std::string& text, const std::string& label,
                     std::vector<std::vector<std::uint8_t>>& blocks, std::string& otherLabel) {
    static const std::string kBegin = "-----BEGIN ";
    static const std::string kDashes = "-----";
    std::size_t pos = 0;
    for (;;) {
        const std::size_t begin = text.find(kBegin, pos);
        if (begin == std::string::npos)
            return true;
        const std::size_t labelStart = begin + kBegin.size();
        const std::size_t labelEnd = text.find(kDashes, labelStart);
        if (labelEnd == std::string::npos)
            return false;
        const std::string found = text.substr(labelStart, labelEnd - labelStart);
        if (found != label) {
            otherLabel = found;
            return false;
        }
        const std::string end = "-----END " + label + kDashes;
        const std::size_t bodyStart = labelEnd + kDashes.size();
        const std::size_t bodyEnd = text.find(end, bodyStart);
        if (bodyEnd == std::string::npos)
            return false;
        std::vector<std::uint8_t> der;
        if (!DecodeBase64(text.substr(bodyStart, bodyEnd - bodyStart), der))
            return false;
        blocks.push_back(std::move(der));
        pos = bodyEnd + end.size();
    }
}

bool ParseP256PublicKeyInfo(const std::vector<std::uint8_t>& der,
                            std::array<std::uint8_t, 65>& point) {
    // SEQUENCE { SEQUENCE { OID ecPublicKey, OID prime256v1 }, BIT STRING (no unused bits) }:
    // the one DER form of an uncompressed P-256 key.
    static const std::uint8_t kPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                                           0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                           0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
    if (der.size() != sizeof kPrefix + point.size() ||
        std::memcmp(der.data(), kPrefix, sizeof kPrefix) != 0 || der[sizeof kPrefix] != 0x04)
        return false;
    std::memcpy(point.data(), der.data() + sizeof kPrefix, point.size());
    return true;
}

namespace {

// One DER INTEGER at der[pos]: a positive value of at most 32 bytes, minimally encoded.
bool ReadPositiveInteger(const std::string& der, std::size_t& pos, std::uint8_t* out32) {
    if (pos + 2 > der.size() || static_cast<std::uint8_t>(der[pos]) != 0x02)
        return false;
    const std::size_t length = static_cast<std::uint8_t>(der[pos + 1]);
    pos += 2;
    if (length == 0 || length > 33 || pos + length > der.size())
        return false;
    const auto* value = reinterpret_cast<const std::uint8_t*>(der.data() + pos);
    if (value[0] & 0x80)
        return false; // negative
    if (length > 1 && value[0] == 0x00 && !(value[1] & 0x80))
        return false; // a leading zero that is not needed
    std::size_t skip = value[0] == 0x00 && length > 1 ? 1 : 0;
    const std::size_t digits = length - skip;
    if (digits > 32)
        return false;
    std::memset(out32, 0, 32);
    std::memcpy(out32 + (32 - digits), value + skip, digits);
    pos += length;
    return true;
}

} // namespace

bool ParseDerEcdsaSignature(const std::string& der, std::array<std::uint8_t, 64>& rs) {
    // SEQUENCE with a short-form length: two INTEGERs of at most 35 bytes each fit in it.
    if (der.size() < 2 || static_cast<std::uint8_t>(der[0]) != 0x30)
        return false;
    const std::size_t length = static_cast<std::uint8_t>(der[1]);
    if (length >= 0x80 || length + 2 != der.size())
        return false;
    std::size_t pos = 2;
    return ReadPositiveInteger(der, pos, rs.data()) &&
           ReadPositiveInteger(der, pos, rs.data() + 32) && pos == der.size();
}

#include "trust/Der.h"

#include <cstring>
#include <initializer_list>
#include <utility>

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

namespace {

// SEQUENCE { SEQUENCE { OID ecPublicKey, OID prime256v1 }, BIT STRING (no unused bits) }: the
// one DER form of an uncompressed P-256 key.
const std::uint8_t kPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                                0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

// SEC 1: SEQUENCE { INTEGER 1, OCTET STRING d, [0] { OID prime256v1 }, [1] { BIT STRING point } }.
const std::uint8_t kSec1Head[] = {0x30, 0x77, 0x02, 0x01, 0x01, 0x04, 0x20};
const std::uint8_t kSec1Middle[] = {0xA0, 0x0A, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D,
                                    0x03, 0x01, 0x07, 0xA1, 0x44, 0x03, 0x42, 0x00};
// PKCS #8: SEQUENCE { INTEGER 0, the key's algorithm, OCTET STRING { SEC 1 without the curve } }.
const std::uint8_t kPkcs8Head[] = {0x30, 0x81, 0x87, 0x02, 0x01, 0x00, 0x30, 0x13, 0x06,
                                   0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01, 0x06,
                                   0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07,
                                   0x04, 0x6D, 0x30, 0x6B, 0x02, 0x01, 0x01, 0x04, 0x20};
const std::uint8_t kPkcs8Middle[] = {0xA1, 0x44, 0x03, 0x42, 0x00};

bool Matches(const std::vector<std::uint8_t>& der, std::size_t pos, const std::uint8_t* bytes,
             std::size_t size) {
    return pos + size <= der.size() && std::memcmp(der.data() + pos, bytes, size) == 0;
}

} // namespace

bool ParseP256PrivateKey(const std::vector<std::uint8_t>& der, bool bPkcs8,
                         std::array<std::uint8_t, 32>& d, std::array<std::uint8_t, 65>& point) {
    const std::uint8_t* head = bPkcs8 ? kPkcs8Head : kSec1Head;
    const std::size_t nHead = bPkcs8 ? sizeof kPkcs8Head : sizeof kSec1Head;
    const std::uint8_t* middle = bPkcs8 ? kPkcs8Middle : kSec1Middle;
    const std::size_t nMiddle = bPkcs8 ? sizeof kPkcs8Middle : sizeof kSec1Middle;
    if (der.size() != nHead + d.size() + nMiddle + point.size() || !Matches(der, 0, head, nHead) ||
        !Matches(der, nHead + d.size(), middle, nMiddle) || der[nHead + d.size() + nMiddle] != 0x04)
        return false;
    std::memcpy(d.data(), der.data() + nHead, d.size());
    std::memcpy(point.data(), der.data() + nHead + d.size() + nMiddle, point.size());
    return true;
}

namespace {

// The concatenation of byte runs, in one allocation.
std::vector<std::uint8_t>
Join(std::initializer_list<std::pair<const std::uint8_t*, std::size_t>> parts) {
    std::size_t size = 0;
    for (const auto& part : parts)
        size += part.second;
    std::vector<std::uint8_t> out(size);
    std::size_t pos = 0;
    for (const auto& part : parts) {
        std::memcpy(out.data() + pos, part.first, part.second);
        pos += part.second;
    }
    return out;
}

} // namespace

std::vector<std::uint8_t> EncodeP256PublicKeyInfo(const std::array<std::uint8_t, 65>& point) {
    return Join({{kPrefix, sizeof kPrefix}, {point.data(), point.size()}});
}

std::vector<std::uint8_t> EncodeP256PrivateKey(const std::array<std::uint8_t, 32>& d,
                                               const std::array<std::uint8_t, 65>& point) {
    return Join({{kSec1Head, sizeof kSec1Head},
                 {d.data(), d.size()},
                 {kSec1Middle, sizeof kSec1Middle},
                 {point.data(), point.size()}});
}

namespace {

// One positive INTEGER of a big-endian value: leading zeros dropped, one added before a high
// bit.
std::string DerInteger(const std::uint8_t* value, std::size_t size) {
    std::size_t skip = 0;
    while (skip + 1 < size && value[skip] == 0)
        ++skip;
    std::string body(reinterpret_cast<const char*>(value + skip), size - skip);
    if (static_cast<std::uint8_t>(body[0]) & 0x80)
        body.insert(body.begin(), '\0');
    return std::string{'\x02', static_cast<char>(body.size())} + body;
}

} // namespace

std::string EncodeDerEcdsaSignature(const std::array<std::uint8_t, 64>& rs) {
    const std::string body = DerInteger(rs.data(), 32) + DerInteger(rs.data() + 32, 32);
    return std::string{'\x30', static_cast<char>(body.size())} + body;
}

std::string EncodePem(const std::string& label, const std::vector<std::uint8_t>& der) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < der.size(); i += 3) {
        const std::uint32_t n = (std::uint32_t{der[i]} << 16) |
                                (i + 1 < der.size() ? std::uint32_t{der[i + 1]} << 8 : 0) |
                                (i + 2 < der.size() ? der[i + 2] : 0);
        text += kAlphabet[(n >> 18) & 63];
        text += kAlphabet[(n >> 12) & 63];
        text += i + 1 < der.size() ? kAlphabet[(n >> 6) & 63] : '=';
        text += i + 2 < der.size() ? kAlphabet[n & 63] : '=';
    }
    std::string pem = "-----BEGIN " + label + "-----\n";
    for (std::size_t i = 0; i < text.size(); i += 64)
        pem += text.substr(i, 64) + "\n";
    return pem + "-----END " + label + "-----\n";
}

bool ParseP256PublicKeyInfo(const std::vector<std::uint8_t>& der,
                            std::array<std::uint8_t, 65>& point) {
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

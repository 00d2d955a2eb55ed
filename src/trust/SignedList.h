// A signed list file: its signature by one of the workstation's keys, its serial ("#serial=N"
// on the first line, never lower than the highest one accepted before), its optional expiry
// ("#expires=YYYYMMDDhhmmss", UTC, on the second line), its line lengths, and the SHA-256
// column of its items.
#pragma once

#include "platform/Crypto.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Longest line of a signed list, in bytes (without its line end).
inline constexpr std::size_t kSignedLineMax = 4096;
// Longest signature file taken from a server.
inline constexpr std::size_t kSignatureMax = 1024;

struct CListVerdict {
    bool bAccepted = false;
    std::int64_t nSerial = 0;
    std::string strReason; // why the list was refused
};

// Checks bytes (the list file exactly as served) against the signature it carries, else
// signature (the ".sig" file), with
// keys, the serial kept so far (0 when none) and the current UTC time.
CListVerdict VerifySignedList(const std::string& bytes, const std::string& signature,
                              const std::vector<plat::CP256PublicKey>& keys,
                              std::int64_t nKeptSerial, std::int64_t tNowUtc);

// A list may carry its signature in its last line, "#signature=" and the DER signature in hex,
// over every byte before that line: the list and its signature then change together, in one
// file that a server replaces in one step. Plain readers take the line for a comment.
inline constexpr const char* kCarriedSignaturePrefix = "#signature=";

// body followed by its carried-signature line (body ends with a line end).
std::string WithCarriedSignature(const std::string& body, const std::string& signature);
// True when bytes end with a carried-signature line: body is what it signs and signature the
// DER bytes (empty when the line's hex is not hex).
bool SplitCarriedSignature(const std::string& bytes, std::string& body, std::string& signature);

// True when the list's signature is one of keys': the signature it carries, else signature
// (the ".sig" file's bytes); false with the reason.
bool IsListSignedByAny(const std::string& bytes, const std::string& signature,
                       const std::vector<plat::CP256PublicKey>& keys, std::string& reason);

// True when signature is one of keys' over bytes; else false with the reason.
bool IsSignedByAny(const std::string& bytes, const std::string& signature,
                   const std::vector<plat::CP256PublicKey>& keys, std::string& reason);

// The serial of a list's first line ("#serial=N"); false when it has none.
bool ListSerial(const std::string& bytes, std::int64_t& nSerial);

// The SHA-256 of a list item's column 7: exactly 64 hexadecimal digits, either case.
bool ParseSha256Hex(const std::string& text, plat::Sha256Digest& digest);
// 64 lower-case hexadecimal digits.
std::string Sha256Hex(const plat::Sha256Digest& digest);
// Bytes as lower-case hexadecimal text, and back (false when text is not an even number of
// hexadecimal digits, either case).
std::string HexOfBytes(const std::string& bytes);
bool BytesOfHex(const std::string& text, std::string& bytes);
// The SHA-256 of bytes in lower-case hex; empty when the system could not hash.
std::string Sha256HexOf(std::string_view bytes);

// Seconds since 1970 of a "YYYYMMDDhhmmss" UTC time; false when it is not one.
bool UtcTimeFromDigits(const std::string& digits, std::int64_t& t);
// "YYYYMMDDhhmmss" of the UTC time t (seconds since 1970, from 1970 on).
std::string UtcDigitsFromTime(std::int64_t t);

// The comment lines that open a list (bytes as served), without their line ends.
std::vector<std::string> ListHeadLines(const std::string& bytes);

// Text conversion between the encodings the program meets.
//
// Inside the program every string is UTF-8. The outside world keeps its own bytes: on Windows
// the list file, the settings file and the log are in the ANSI code page (CP949 on Korean
// systems) and Win32 calls take UTF-16. On POSIX the ANSI code page is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// Code page number of the ANSI code page: GetACP() on Windows (949 on Korean systems),
// 65001 (UTF-8) on POSIX.
unsigned AnsiCodePage();

// UTF-8 to UTF-16. A byte that does not start a valid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// ANSI code page bytes to UTF-8. Bytes that the code page cannot map become U+FFFD
// (Windows may map them to a best-fit character instead). Identity on POSIX.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to ANSI code page bytes. Characters the code page lacks become "?". Identity on POSIX.
std::string Utf8ToAnsi(std::string_view utf8);

// Strict conversions between UTF-8 and the Korean code page CP949 (949), whatever the
// system's own code page: false when a character has no CP949 form, or a byte sequence is not
// CP949 (Windows: WideCharToMultiByte without best fit; POSIX: iconv).
bool Utf8ToCp949(std::string_view utf8, std::string& cp949);
bool Cp949ToUtf8(std::string_view cp949, std::string& utf8);

// Length of the longest prefix of text that is at most maxBytes long and does not end inside
// a UTF-8 sequence. Used to cut texts to a buffer size without splitting a character.
std::size_t Utf8FitLength(std::string_view text, std::size_t maxBytes);

// Number of characters (code points) in a UTF-8 text; an invalid byte counts as one.
std::size_t Utf8CharCount(std::string_view text);

} // namespace plat

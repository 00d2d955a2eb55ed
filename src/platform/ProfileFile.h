// Settings files in the Windows INI format ("[section]" lines and "key=value" lines).
//
// Windows uses the system's profile-string functions, which read and write the file in the
// ANSI code page. POSIX reads and writes UTF-8 files with the same rules: section and key
// names compare without case, blanks around keys and values are dropped, a value in matching
// quotes loses them, only the first of duplicate sections is searched and the first of
// duplicate keys wins. There is no comment syntax: ";x=1" is a key named ";x", which no
// program asks for, so comment lines are ignored in effect.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// The value of key in section of the file at path, or defaultValue when the file, the
// section or the key is missing. The result is cut to at most maxBytes - 1 bytes of the
// file's encoding (as a buffer of maxBytes bytes holds it), never inside a character, and
// returned as UTF-8.
std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t maxBytes);

// Sets key=value in section, creating the file and the section when missing and keeping
// every other line of the file as it was. False when the file cannot be written; the
// reason is in LastErrorCode().
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

} // namespace plat

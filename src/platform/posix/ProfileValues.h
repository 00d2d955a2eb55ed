// Several keys of one section of a settings file at once, telling a missing key from a present
// one and a missing file from an unreadable one. Used only inside the POSIX platform side.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace plat {

// The values of keys in section of the file at path, read with the rules of ProfileFile.h,
// for the keys present with a '=' only (whole, not cut). 0 when read, also when the file or
// the section is missing; -1 when the file exists but cannot be read (a folder, no
// permission), with values left empty and the reason in LastErrorCode().
int ReadProfileValues(const std::string& path, const std::string& section,
                      const std::vector<std::string>& keys,
                      std::map<std::string, std::string>& values);

} // namespace plat

// The store in which administrators set the program's settings centrally (Group Policy).
//
// Windows: the values of a registry key below HKEY_LOCAL_MACHINE, read in the 64-bit view;
// REG_SZ values are texts and REG_DWORD values numbers, every other type is reported as such.
// POSIX: the keys of section "VENTO" of an INI file, read with the profile-file rules; every
// value is a text.
//
// Only the program's code names the location: no environment variable moves it, so that a
// user cannot step out of the policy IT staff set.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace plat {

struct PolicyValue {
    // True for a text or a number; false for a value of any other type.
    bool bUsable = false;
    // The text (UTF-8), or the decimal text of a number; empty when not usable.
    std::string strText;
    // The store's name of the type: "REG_SZ", "REG_DWORD", "REG_BINARY", "REG_MULTI_SZ", ...
    // on Windows (an unnamed type as "type <n>"); "text" on POSIX.
    std::string strType;
};

// The location the program reads: "Software\Policies\KestrelSync" (a key below
// HKEY_LOCAL_MACHINE) on Windows, "/etc/kestrelsync/policy.ini" on POSIX.
std::string DefaultPolicyLocation();

// The values of the store at location for the names given, those present only. 0 when the
// store was read, also when it or a name is missing (no policy for it); -1 when it exists but
// cannot be read (no permission, a folder in place of the file), with values left empty and
// the reason in LastErrorCode().
int ReadPolicyValues(const std::string& location, const std::vector<std::string>& names,
                     std::map<std::string, PolicyValue>& values);

// Whether accounts other than the administrators can read the store at location, so that it
// must not carry a secret: POSIX, a file that others may read (mode o+r) or that is missing;
// Windows, always (every account reads the policy key).
bool PolicyReadableByOthers(const std::string& location);

} // namespace plat

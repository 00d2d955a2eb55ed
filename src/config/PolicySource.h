// The settings IT staff set centrally, which take precedence over the settings file key by key
// (see platform/PolicyStore.h for where they are kept). Only the keys of the policy table are
// taken; a value of the wrong type or out of its range is logged and the file's value stays.
// The serials (LIST_SERIAL, RELEASE_SERIAL) are state and never come from policy.
#pragma once

#include "platform/PolicyStore.h"

#include <string>
#include <vector>

class CSyncConfig;

class CPolicySource {
public:
    // strLocation: the registry key below HKEY_LOCAL_MACHINE (Windows) or the policy file
    // (POSIX); the real one unless a caller (a test) names another.
    explicit CPolicySource(std::string strLocation = plat::DefaultPolicyLocation());

    // Overlays the valid values of the store on config and records each key taken, with its
    // value, in config.m_mapPolicyValues (cleared first). Logs at level 3 each value not taken
    // (naming the key, the value and why) and a store that cannot be read.
    void Apply(CSyncConfig& config) const;

    const std::string& GetLocation() const { return m_strLocation; }

private:
    std::string m_strLocation;
};

// The keys policy may set, in the order of the policy table.
std::vector<std::string> PolicyKeyNames();

// A policy store of the test's own, written as IT staff would write the real one: on Windows a
// key below HKEY_LOCAL_MACHINE of the test Wine prefix (removed at the end), on POSIX a policy
// file in a temporary folder. The program reads it through CPolicySource(Location()).
#pragma once

#include "support/TempDir.h"

#include <cstdint>
#include <string>

namespace kstest {

class TestPolicy {
public:
    TestPolicy();
    ~TestPolicy();
    TestPolicy(const TestPolicy&) = delete;
    TestPolicy& operator=(const TestPolicy&) = delete;

    const std::string& Location() const { return m_strLocation; }
    // A text (REG_SZ); false when it could not be written.
    bool SetText(const std::string& key, const std::string& text);
    // A number (REG_DWORD; its decimal text on POSIX).
    bool SetNumber(const std::string& key, std::uint32_t n);
    // A value of a type the policy does not take (REG_BINARY); on POSIX, whose policy holds
    // only texts, posixText instead.
    bool SetOtherType(const std::string& key, const std::string& bytes,
                      const std::string& posixText);

private:
    TempDir m_dir;
    std::string m_strLocation;
};

} // namespace kstest

#include "engine/RolloutTurn.h"

#include "app/ProgramDir.h"
#include "diag/MyLog.h"
#include "platform/Crypto.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "trust/SignedList.h"

#include <cctype>
#include <cstdio>

namespace {

constexpr std::size_t kIdentifierBytes = 16;

bool IsIdentifier(const std::string& text) {
    if (text.size() != 2 * kIdentifierBytes)
        return false;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::string ReadIdentifier(const std::string& path) {
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return std::string();
    char text[2 * kIdentifierBytes + 1] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, fp);
    std::fclose(fp);
    const std::string identifier(text, n);
    return IsIdentifier(identifier) ? identifier : std::string();
}

// The identifier kept at path, made when there is none (or it is not one); empty when it can be
// neither read nor made.
std::string KeptIdentifier(const std::string& path) {
    std::string identifier = ReadIdentifier(path);
    if (!identifier.empty())
        return identifier;
    std::string bytes(kIdentifierBytes, '\0');
    if (!plat::RandomBytes(&bytes[0], bytes.size()))
        return std::string();
    identifier = HexOfBytes(bytes);
    return plat::WriteWholeFile(path, identifier, true) ? identifier : std::string();
}

std::string IdentifierPath(const CSyncConfig& config) {
    return plat::JoinPath(plat::JoinPath(config.m_strLocalBaseDir, g_pszConfigFolder),
                          kRolloutIdFileName);
}

} // namespace

std::string WorkstationIdentifier(const CSyncConfig& config) {
    return KeptIdentifier(IdentifierPath(config));
}

int WorkstationRolloutGroup(const CSyncConfig& config) {
    if (config.m_nRolloutGroup >= 0) {
        WriteLog(g_pMyLog, 2, "CSyncEngine::RolloutTurn> Group = %d (ROLLOUT_GROUP)",
                 config.m_nRolloutGroup);
        return config.m_nRolloutGroup;
    }
    if (!config.m_strRolloutGroup.empty())
        WriteLog(g_pMyLog, 3, "CSyncEngine::RolloutTurn> ROLLOUT_GROUP = [%s] Ignored, Not 0 To 6",
                 config.m_strRolloutGroup.c_str());
    const std::string path = IdentifierPath(config);
    const std::string identifier = KeptIdentifier(path);
    if (identifier.empty()) {
        WriteLog(g_pMyLog, 3, "CSyncEngine::RolloutTurn> No Identifier In %s, Group = 0",
                 path.c_str());
        return 0;
    }
    const int group = RolloutGroupOf(identifier);
    WriteLog(g_pMyLog, 2, "CSyncEngine::RolloutTurn> Group = %d (%s)", group, path.c_str());
    return group;
}

std::int64_t RolloutTurn(const CSyncConfig& config, std::int64_t nListSerial,
                         const CRollout& rollout, std::int64_t tNow) {
    if (rollout.nPhasedHours == 0)
        return 0;
    const std::int64_t nInstalled = ReadReleaseSerial(config.m_strIniPath);
    if (nInstalled == 0 || nInstalled >= nListSerial)
        return 0;
    const std::int64_t tDue = GroupDueTime(rollout, WorkstationRolloutGroup(config));
    return tDue > tNow ? tDue : 0;
}

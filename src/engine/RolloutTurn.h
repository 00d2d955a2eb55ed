// Whether this workstation takes a phased release now. Its group is "ROLLOUT_GROUP" of the
// settings (pilot and test machines), else derived from a random identifier that it makes once
// and keeps in "<program folder>/config/KestrelSync.id" (never sent anywhere).
#pragma once

#include "config/SyncConfig.h"
#include "trust/Rollout.h"

#include <cstdint>
#include <string>

// The name of the identifier file in the program folder's config folder.
inline constexpr const char* kRolloutIdFileName = "KestrelSync.id";

// The workstation's random identifier (32 hexadecimal digits), made and kept on first use;
// empty when it can be neither read nor made.
std::string WorkstationIdentifier(const CSyncConfig& config);

// This workstation's group, 0 to kRolloutGroups - 1 (logged with where it came from). A
// workstation whose identifier cannot be read or made is in group 0.
int WorkstationRolloutGroup(const CSyncConfig& config);

// 0 when the release of a verified list (its serial and rollout) is due now (tNow, UTC), else
// the UTC time this workstation's turn comes. Always due: a release that is not phased, a
// workstation that has no release installed yet, and the release it has.
std::int64_t RolloutTurn(const CSyncConfig& config, std::int64_t nListSerial,
                         const CRollout& rollout, std::int64_t tNow);

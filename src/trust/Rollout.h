// A release's rollout, carried in the head of its signed list: when it was published
// ("#published=YYYYMMDDhhmmss", UTC) and, for a phased release, over how many hours it reaches
// every workstation ("#phased=HOURS"). Workstations fall into kRolloutGroups groups: group 0
// takes a phased release when it is published, the last group HOURS later, the others in even
// steps between.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int kRolloutGroups = 7;
// The longest span a release may be phased over: one year.
inline constexpr int kPhasedHoursMax = 8760;

struct CRollout {
    std::int64_t tPublished = 0; // UTC seconds; 0 when the list does not say
    int nPhasedHours = 0;        // 0: every group takes the release at once
};

// The rollout lines among the comment lines that open a list (bytes as served). False with the
// reason when one is malformed, or a phased list names no publication time.
bool ReadRollout(const std::string& bytes, CRollout& rollout, std::string& why);

// The head lines of a release's list: "#published=...", then "#phased=..." when it is phased.
std::string RolloutLines(const CRollout& rollout);

// When group (0 to kRolloutGroups - 1) takes the release, in UTC seconds.
std::int64_t GroupDueTime(const CRollout& rollout, int group);

// The group of a workstation's random identifier: the same identifier, the same group.
int RolloutGroupOf(const std::string& identifier);

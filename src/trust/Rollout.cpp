#include "trust/Rollout.h"

#include "platform/Crypto.h"
#include "trust/SignedList.h"

#include <cctype>
#include <vector>

namespace {

const std::string kPublished = "#published=";
const std::string kPhased = "#phased=";

bool ReadHours(const std::string& text, int& nHours) {
    if (text.empty() || text.size() > 4)
        return false;
    nHours = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        nHours = nHours * 10 + (c - '0');
    }
    return nHours <= kPhasedHoursMax;
}

} // namespace

bool ReadRollout(const std::string& bytes, CRollout& rollout, std::string& why) {
    rollout = CRollout{};
    for (const std::string& line : ListHeadLines(bytes)) {
        if (line.compare(0, kPublished.size(), kPublished) == 0 &&
            !UtcTimeFromDigits(line.substr(kPublished.size()), rollout.tPublished)) {
            why = "the line \"" + line + "\" is not \"#published=YYYYMMDDhhmmss\"";
            return false;
        }
        if (line.compare(0, kPhased.size(), kPhased) == 0 &&
            !ReadHours(line.substr(kPhased.size()), rollout.nPhasedHours)) {
            why = "the line \"" + line + "\" is not \"#phased=HOURS\" with 0 to " +
                  std::to_string(kPhasedHoursMax) + " hours";
            return false;
        }
    }
    if (rollout.nPhasedHours > 0 && rollout.tPublished == 0) {
        why = "the list is phased but names no publication time";
        return false;
    }
    return true;
}

std::string RolloutLines(const CRollout& rollout) {
    std::string lines = kPublished + UtcDigitsFromTime(rollout.tPublished) + "\n";
    if (rollout.nPhasedHours > 0)
        lines += kPhased + std::to_string(rollout.nPhasedHours) + "\n";
    return lines;
}

std::int64_t GroupDueTime(const CRollout& rollout, int group) {
    return rollout.tPublished +
           std::int64_t{rollout.nPhasedHours} * 3600 * group / (kRolloutGroups - 1);
}

int RolloutGroupOf(const std::string& identifier) {
    plat::CSha256 sha;
    sha.Update(identifier.data(), identifier.size());
    plat::Sha256Digest digest{};
    sha.Finish(digest);
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = value << 8 | digest[static_cast<std::size_t>(i)];
    return static_cast<int>(value % kRolloutGroups);
}

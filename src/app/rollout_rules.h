// The staged rollout: which machines a release is offered to. Each machine falls in a bucket
// from 0 to 99 by a hash of its MachineGuid, the control file's section and the offered
// revision; the release is offered when the bucket is below the published percentage. Nothing
// is stored or sent, and a new revision deals the buckets anew. Portable.
#pragma once
#include <cstdint>
#include <string>

namespace app {

// What the control file's Rollout= value says. Absent is 100. A whole number from 0 to 100
// (decimal digits only, blanks already trimmed by the reader) is itself; anything else (a sign,
// a fraction, "50%", a number above 100, an empty value) is not a percentage a publisher meant,
// and is read as 0: a typo halts a release rather than offering it to everyone.
struct RolloutPercent {
    unsigned percent = 100;
    bool valid = true;  // false: the value was unreadable and percent is 0
};
RolloutPercent ParseRollout(bool present, const std::wstring& value);

constexpr unsigned kLastBucket = 99;

// The machine's bucket, 0 to 99. An empty machine id (no MachineGuid) is the last bucket, so
// such machines get a release only once it goes to everyone.
unsigned RolloutBucket(const std::wstring& machineId, const std::wstring& section,
                       std::int32_t revision);

// The release reaches the machine's bucket: 0 offers nothing, 100 offers to every bucket.
inline bool IsInRollout(unsigned bucket, unsigned percent) { return bucket < percent; }

}  // namespace app

// For tests only, never included by the program: shortens the package download's stall limit
// so that a stall can be shown without waiting out the real 30 seconds, and its size limit,
// so that an endless body can be shown without filling 2 GiB.
#pragma once

namespace sys {
namespace test_seam {

// The limit for every later Run; 0 puts back the shipped 30 seconds.
void SetStallLimitMs(unsigned long limitMs);
// The most a download without Size= takes, for every later Run; 0 puts back kPackageLimitBytes.
void SetPackageLimitBytes(unsigned long long limit);

}  // namespace test_seam
}  // namespace sys

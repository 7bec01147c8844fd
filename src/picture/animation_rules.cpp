#include "picture/animation_rules.h"

namespace picture {

namespace {
const std::uint32_t kShortestDelayCs = 5;
const std::uint32_t kFastHoldMs = 100;
const std::uint32_t kLongestDelayCs = 0xFFFF;  // Delay Time is a 16-bit field
}  // namespace

std::uint32_t HoldMilliseconds(std::uint32_t delayCs)
{
    // The marker and anything no 16-bit field can hold count as "no delay".
    if (delayCs < kShortestDelayCs || delayCs > kLongestDelayCs) return kFastHoldMs;
    return delayCs * 10u;
}

Disposal DisposalFor(std::uint32_t disposalMethod)
{
    switch (disposalMethod) {
    case 2: return Disposal::ClearToBackground;
    case 3: return Disposal::RestorePrevious;
    default: return Disposal::Keep;
    }
}

bool SavesUnderlay(std::uint32_t disposalMethod)
{
    return DisposalFor(disposalMethod) == Disposal::RestorePrevious;
}

std::uint32_t NextFrameIndex(std::uint32_t index, std::uint32_t count)
{
    if (count == 0 || index + 1 >= count) return 0;
    return index + 1;
}

}  // namespace picture

#include "picture/animation_rules.h"

#include <gtest/gtest.h>

#include "picture/gif_parser.h"

TEST(AnimationRules, HoldOfEachDelay)
{
    const struct {
        std::uint32_t delayCs, holdMs;
    } cases[] = {
        {0, 100},  {1, 100},  {4, 100},        {5, 50},
        {10, 100}, {37, 370}, {65535, 655350}, {picture::kNoDelay, 100},
    };
    for (const auto& c : cases)
        EXPECT_EQ(picture::HoldMilliseconds(c.delayCs), c.holdMs) << c.delayCs;
}

TEST(AnimationRules, DisposalOfEachMethod)
{
    using picture::Disposal;
    const Disposal want[8] = {Disposal::Keep,
                              Disposal::Keep,
                              Disposal::ClearToBackground,
                              Disposal::RestorePrevious,
                              Disposal::Keep,
                              Disposal::Keep,
                              Disposal::Keep,
                              Disposal::Keep};
    for (std::uint32_t m = 0; m < 8; ++m) {
        EXPECT_EQ(picture::DisposalFor(m), want[m]) << m;
        EXPECT_EQ(picture::SavesUnderlay(m), m == 3) << m;
    }
}

TEST(AnimationRules, FramesLoopBackToTheFirst)
{
    EXPECT_EQ(picture::NextFrameIndex(0, 3), 1u);
    EXPECT_EQ(picture::NextFrameIndex(1, 3), 2u);
    EXPECT_EQ(picture::NextFrameIndex(2, 3), 0u);
    EXPECT_EQ(picture::NextFrameIndex(0, 1), 0u);
    EXPECT_EQ(picture::NextFrameIndex(5, 0), 0u);
}

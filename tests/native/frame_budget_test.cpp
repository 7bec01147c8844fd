#include "picture/frame_budget.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();

TEST(FrameBudget, AFrameFitsOnlyBesideWhatIsHeld)
{
    const struct {
        std::size_t held, budget, bytes;
        bool fits;
    } cases[] = {
        {0, 100, 100, true},                              // a frame of exactly the budget
        {0, 100, 101, false},      {40, 100, 60, true},   // fills it to the byte
        {40, 100, 61, false},      {100, 100, 0, true},   // full, and an empty frame still fits
        {100, 100, 1, false},      {101, 100, 0, false},  // held past a budget lowered by SetBudget
        {0, 0, 0, true},           {0, 0, 1, false},
        {1, kMax, kMax, false},  // held + bytes would wrap to 0
        {kMax - 1, kMax, 1, true}, {kMax - 1, kMax, 2, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(picture::FitsBudget(c.held, c.budget, c.bytes), c.fits)
            << c.held << " held, " << c.budget << " budget, " << c.bytes << " bytes";
}

TEST(FrameBudget, BitmapBytesNeverWrapIntoASmallFrame)
{
    const struct {
        std::int64_t rowBytes, rows;
        std::size_t bytes;
    } cases[] = {
        {2560, 480, 1228800},  // 640 x 480 at 32 bits
        {4, 1, 4},
        {0, 480, 0},
        {2560, 0, 0},
        {-2560, 480, kMax},  // nothing the platform should report: counted as too big
        {2560, -480, kMax},
        {-1, 0, kMax},  // refused even where the product would be 0
        {0, -1, kMax},
        {std::int64_t{1} << 32, std::int64_t{1} << 32, kMax},    // 2^64 wraps to 0 unchecked
        {static_cast<std::int64_t>(kMax / 3) + 1, 3, kMax},      // just past SIZE_MAX
        {static_cast<std::int64_t>(kMax / 3), 3, kMax / 3 * 3},  // just within
    };
    for (const auto& c : cases)
        EXPECT_EQ(picture::BitmapBytes(c.rowBytes, c.rows), c.bytes)
            << c.rowBytes << " x " << c.rows;
}

// A picture that is no bitmap: 32-bit pixels at 96 dots per inch, rounded as MulDiv rounds
// (847 HIMETRIC is the 32 pixels Wine reports for a 32 x 32 picture).
TEST(FrameBudget, PictureBytesCountPixelsAt96Dpi)
{
    const struct {
        std::int32_t himetric;
        std::int64_t pixels;
    } lengths[] = {
        {2540, 96},   {847, 32},
        {0, 0},       {13, 0},
        {14, 1},  // 13.23 and 13.23 + 0.5 round apart
        {-2540, -96}, {-14, -1},
        {-13, 0},     {2147483647, 81164736},  // the largest LONG does not overflow the product
    };
    for (const auto& l : lengths)
        EXPECT_EQ(picture::HimetricToPixels(l.himetric), l.pixels) << l.himetric;

    EXPECT_EQ(picture::PictureBytes(847, 847), 4u * 32 * 32);
    EXPECT_EQ(picture::PictureBytes(16933, 12700), 4u * 640 * 480);
    EXPECT_EQ(picture::PictureBytes(0, 847), 0u);
    EXPECT_EQ(picture::PictureBytes(-847, 847), kMax);  // fits no budget
}

}  // namespace

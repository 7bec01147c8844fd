#include "picture/frame_budget.h"

#include <limits>

namespace picture {
namespace {

constexpr std::int64_t kHimetricPerInch = 2540;
constexpr std::int64_t kScreenDpi = 96;
constexpr std::int64_t kBytesPerPixel = 4;

}  // namespace

bool FitsBudget(std::size_t held, std::size_t budget, std::size_t bytes)
{
    return held <= budget && bytes <= budget - held;
}

std::size_t BitmapBytes(std::int64_t rowBytes, std::int64_t rows)
{
    constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();
    if (rowBytes < 0 || rows < 0) return kNever;
    const auto width = static_cast<std::uint64_t>(rowBytes);
    const auto height = static_cast<std::uint64_t>(rows);
    if (height != 0 && width > kNever / height) return kNever;
    return static_cast<std::size_t>(width * height);
}

std::int64_t HimetricToPixels(std::int32_t himetric)
{
    const std::int64_t magnitude = himetric < 0 ? -std::int64_t{himetric} : himetric;
    const std::int64_t pixels = (magnitude * kScreenDpi + kHimetricPerInch / 2) / kHimetricPerInch;
    return himetric < 0 ? -pixels : pixels;
}

std::size_t PictureBytes(std::int32_t himetricWidth, std::int32_t himetricHeight)
{
    return BitmapBytes(kBytesPerPixel * HimetricToPixels(himetricWidth),
                       HimetricToPixels(himetricHeight));
}

}  // namespace picture

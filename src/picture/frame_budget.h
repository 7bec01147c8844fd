// The frame cache's arithmetic: what a decoded frame costs and whether it fits the budget.
// Portable, so the native tests hold it; frame_cache.cpp and picture_decoder.cpp use it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace picture {

// True when a frame of `bytes` fits beside the `held` bytes within `budget`. Written so that
// no sum can wrap: a frame of nearly SIZE_MAX bytes does not fit because held + bytes wrapped.
bool FitsBudget(std::size_t held, std::size_t budget, std::size_t bytes);

// Bytes of a bitmap of `rows` rows of `rowBytes` each; SIZE_MAX (fits no budget) when either
// is negative or the product does not fit a size_t, which on 32-bit Windows it can.
std::size_t BitmapBytes(std::int64_t rowBytes, std::int64_t rows);

// Pixels of a HIMETRIC length (hundredths of a millimetre) at 96 dots per inch, rounded half
// away from zero as MulDiv rounds. OLE gives HIMETRIC sizes as 32-bit LONGs.
std::int64_t HimetricToPixels(std::int32_t himetric);

// Bytes of a picture that is no bitmap, counted as 32-bit pixels at 96 dots per inch.
std::size_t PictureBytes(std::int32_t himetricWidth, std::int32_t himetricHeight);

}  // namespace picture

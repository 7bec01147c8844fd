// The large animation the picture benchmarks share: hundreds of full-screen frames of
// stripes that move from frame to frame, 10 hundredths apart (10 frames a second).
#pragma once
#include <string>
#include <vector>

#include "../tests/support/gif_builder.h"

namespace gifbench {

const unsigned kWidth = 200;
const unsigned kHeight = 150;
const unsigned kFrames = 400;

inline std::string LargeAnimation()
{
    namespace gb = gifbuild;
    std::string out = gb::Screen(kWidth, kHeight) + gb::LoopingApplication();
    std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    for (unsigned f = 0; f < kFrames; ++f) {
        for (unsigned y = 0; y < kHeight; ++y)
            for (unsigned x = 0; x < kWidth; ++x)
                pixels[y * kWidth + x] = static_cast<unsigned char>(((x + y + f) / 8) % 4);
        out += gb::GraphicControl(1, 10) + gb::Image(0, 0, kWidth, kHeight, pixels);
    }
    return out + gb::Trailer();
}

}  // namespace gifbench

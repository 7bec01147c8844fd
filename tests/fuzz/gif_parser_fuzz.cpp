// Walks and extracts every frame of arbitrary bytes; ASan reports any read outside them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "picture/gif_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    picture::GifParser counter(data, size);
    const std::uint32_t count = counter.CountFrames();

    picture::GifParser parser(data, size);
    picture::FrameStream frame;
    std::uint32_t extracted = 0;
    while (parser.ExtractNextFrame(frame)) {
        ++extracted;
        // Each frame is the screen head, its own span and one trailer byte.
        if (frame.bytes.size() < 13 + parser.ColorTableBytes() + 2 || frame.bytes.back() != 0x3B)
            std::abort();
        if (frame.bytes.size() > size + 1) std::abort();
    }
    // Counting and extracting walk the same blocks.
    if (extracted != count) std::abort();
    return 0;
}

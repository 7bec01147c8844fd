// The animation's timing and disposal decisions, kept apart from the drawing.
#pragma once
#include <cstdint>

namespace picture {

// How long a frame stays on screen, in milliseconds, for its Delay Time in hundredths.
// Delays of 0 to 4 hundredths are held 100 ms, as browsers do for "as fast as possible"
// animations. A frame without a Graphic Control Extension (the no-delay marker) is held
// 100 ms as well: multiplying the marker by ten would wrap to a nonsense hold.
std::uint32_t HoldMilliseconds(std::uint32_t delayCs);

enum class Disposal {
    Keep,               // methods 0, 1 and the reserved 4 to 7: the frame stays for the next
    ClearToBackground,  // method 2: the frame's rectangle is filled with the erase colour
    RestorePrevious,    // method 3: what lay under the frame is put back
};

Disposal DisposalFor(std::uint32_t disposalMethod);

// Whether the area under a frame must be saved before it is drawn.
bool SavesUnderlay(std::uint32_t disposalMethod);

// The frame after `index` in a loop of `count`; wraps to 0 after the last.
std::uint32_t NextFrameIndex(std::uint32_t index, std::uint32_t count);

}  // namespace picture

// Decoded frames of an animation, kept within a byte budget.
#pragma once
#include <atomic>
#include <cstddef>
#include <vector>

#include "picture/picture_decoder.h"

namespace picture {

// An animation visits its frames in a cycle, so the frames kept are the first ones that
// fit the budget, kept for good; the rest are decoded again each time they come round and
// dropped after drawing. Evicting the least recently used would instead drop exactly the
// frame that comes round next, and decode every frame on every cycle.
//
// Written only by the thread that animates; the counters may be read from any thread.
class FrameCache {
public:
    // 16 MiB: thirteen 640 x 480 frames at 32 bits a pixel. A small animation is decoded
    // once and kept whole; a larger one costs at most this much beside its compressed bytes,
    // plus the one frame being drawn.
    static constexpr std::size_t kDefaultBudget = 16u << 20;

    explicit FrameCache(std::size_t budgetBytes = kDefaultBudget) : m_nBudget(budgetBytes) {}

    // Forgets every picture and makes room for `frameCount` frames.
    void Reset(std::size_t frameCount);
    // The kept picture of a frame, or null.
    PicturePtr Find(std::size_t index) const;
    // Keeps a decoded picture of `bytes` when it fits the budget; false when it does not.
    bool Keep(std::size_t index, const PicturePtr& picture, std::size_t bytes);

    std::size_t Budget() const { return m_nBudget; }
    void SetBudget(std::size_t budgetBytes) { m_nBudget = budgetBytes; }
    std::size_t HeldBytes() const { return m_nHeldBytes.load(); }
    std::size_t HeldFrames() const { return m_nHeldFrames.load(); }

private:
    std::vector<PicturePtr> m_pictures;
    std::size_t m_nBudget;
    std::atomic<std::size_t> m_nHeldBytes{0};
    std::atomic<std::size_t> m_nHeldFrames{0};
};

}  // namespace picture

#include "picture/frame_cache.h"

#include "picture/frame_budget.h"

namespace picture {

void FrameCache::Reset(std::size_t frameCount)
{
    m_pictures.clear();
    m_pictures.resize(frameCount);
    m_nHeldBytes = 0;
    m_nHeldFrames = 0;
}

PicturePtr FrameCache::Find(std::size_t index) const
{
    return index < m_pictures.size() ? m_pictures[index] : nullptr;
}

bool FrameCache::Keep(std::size_t index, const PicturePtr& picture, std::size_t bytes)
{
    if (index >= m_pictures.size() || !picture || m_pictures[index]) return false;
    if (!FitsBudget(m_nHeldBytes.load(), m_nBudget, bytes)) return false;
    m_pictures[index] = picture;
    m_nHeldBytes += bytes;
    ++m_nHeldFrames;
    return true;
}

}  // namespace picture

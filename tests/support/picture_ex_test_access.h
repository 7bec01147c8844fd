// What tests and benchmarks see of CPictureEx beyond its public operations, and the steps of
// its animation, to walk through the frames on the calling thread without a clock.
#pragma once
#include <memory>

#include "picture/picture_ex.h"
#include "win/thread.h"

namespace picture {

struct PictureTestAccess {
    // A control whose stop event could not be created.
    static std::unique_ptr<CPictureEx> WithoutStopEvent()
    {
        return std::unique_ptr<CPictureEx>(new CPictureEx(false));
    }

    static COLORREF SurfacePixel(CPictureEx& p, int x, int y)
    {
        win::Locked lock(p.m_surfaceLock);
        return p.m_surface ? ::GetPixel(p.m_surface.get(), x, y) : CLR_INVALID;
    }
    static win::Lock& SurfaceLock(CPictureEx& p) { return p.m_surfaceLock; }

    // Read the frames only once they are split (or no thread runs).
    static bool FramesSplit(const CPictureEx& p) { return p.m_bFramesSplit.load() != 0; }
    static bool HoldsGifFile(const CPictureEx& p) { return static_cast<bool>(p.m_gifFile); }
    static std::size_t FrameCount(const CPictureEx& p) { return p.m_vecFrames.size(); }
    static std::uint32_t FrameIndex(const CPictureEx& p) { return p.m_nFrameIndex; }
    static bool HasStillPicture(const CPictureEx& p) { return p.m_pStillPicture != nullptr; }
    static int IsGifStream(const CPictureEx& p) { return p.m_bGifStream; }
    static std::int32_t Width(const CPictureEx& p) { return p.m_nWidth; }
    static std::int32_t Height(const CPictureEx& p) { return p.m_nHeight; }
    static HANDLE AnimationThread(const CPictureEx& p) { return p.m_animation.get(); }
    // The thread was started and has ended by itself.
    static bool ThreadEnded(const CPictureEx& p) { return p.m_animation.Ended(); }

    static std::uint32_t DecodedFrames(const CPictureEx& p) { return p.m_nDecodedFrames.load(); }
    static std::uint32_t Decodes(const CPictureEx& p) { return p.m_nDecodes.load(); }
    static std::uint32_t FramesDrawn(const CPictureEx& p) { return p.m_nFramesDrawn.load(); }
    static std::size_t HeldBytes(const CPictureEx& p) { return p.m_cache.HeldBytes(); }
    static std::size_t HeldFrames(const CPictureEx& p) { return p.m_cache.HeldFrames(); }
    static std::size_t Budget(const CPictureEx& p) { return p.m_cache.Budget(); }
    // Before a load only: the thread reads the budget.
    static void SetBudget(CPictureEx& p, std::size_t bytes) { p.m_cache.SetBudget(bytes); }

    // One step of the animation, as its thread runs them, with no thread running.
    static void SplitFile(CPictureEx& p) { p.SplitFile(); }
    static void BeginFrames(CPictureEx& p) { p.BeginFrames(); }
    // Decodes and draws the current frame; its hold in milliseconds, 0 when it does not decode.
    static DWORD DrawFrame(CPictureEx& p)
    {
        const picture::PicturePtr decoded = p.ObtainFrame();
        return decoded ? p.DrawFrame(decoded.Get()) : 0;
    }
    static void DisposeFrame(CPictureEx& p)
    {
        p.DisposeFrame();
        p.AdvanceFrame();
    }
};

}  // namespace picture

// The animation thread of CPictureEx: decodes each frame as it comes round, draws it into
// the offscreen surface, holds it and disposes of it.
#include <utility>

#include "picture/animation_rules.h"
#include "picture/gif_parser.h"
#include "picture/picture_ex.h"
#include "win/thread.h"

namespace picture {

void CPictureEx::RunAnimation()
{
    SplitFile();
    BeginFrames();
    while (!m_animation.StopRequested()) {
        const picture::PicturePtr decoded = ObtainFrame();
        if (m_animation.StopRequested()) break;
        if (decoded) {
            const DWORD hold = DrawFrame(decoded.Get());
            // One frame that decodes is a still picture. Without a stop event a hold could
            // not be cut short: the first frame stays.
            if (DecodableFrames() < 2 || !m_animation.StopEvent()) break;
            // A stop signals the event, which cuts the hold short.
            ::WaitForSingleObject(m_animation.StopEvent(), hold);
            if (m_animation.StopRequested()) break;
            DisposeFrame();
        } else if (DecodableFrames() == 0) {
            break;
        }
        AdvanceFrame();
    }
}

std::size_t CPictureEx::DecodableFrames() const { return m_vecFrames.size() - m_nUndecodable; }

void CPictureEx::BeginFrames()
{
    if (m_vecFrames.empty() || !m_surface) return;
    const GifFrame& frame = m_vecFrames[m_nFrameIndex];
    if (picture::DisposalFor(frame.nDisposalMethod) != picture::Disposal::ClearToBackground) return;
    win::Locked lock(m_surfaceLock);
    FillErase(frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight);
}

picture::PicturePtr CPictureEx::ObtainFrame()
{
    if (m_vecFrames.empty()) return nullptr;
    GifFrame& frame = m_vecFrames[m_nFrameIndex];
    if (frame.bUndecodable) return nullptr;
    if (picture::PicturePtr kept = m_cache.Find(m_nFrameIndex)) return kept;
    // Decoded on a thread of its own: the decoder cannot be interrupted, and a stop must not
    // wait for it. Nothing is drawn from a job whose wait a stop cut short.
    const auto job = picture::DecodeJob::Start(frame.stream.data(), frame.stream.size());
    if (job && !WaitForDecode(job->Done())) return nullptr;
    picture::PicturePtr decoded = job ? job->Result() : nullptr;
    if (!decoded) {
        // Dropped, as a frame the decoder rejects at load would be.
        frame.bUndecodable = true;
        ++m_nUndecodable;
        return nullptr;
    }
    ++m_nDecodes;
    if (!frame.bDecoded) {
        frame.bDecoded = true;
        ++m_nDecodedFrames;
    }
    m_cache.Keep(m_nFrameIndex, decoded, picture::HeldBytes(decoded.Get()));
    return decoded;
}

bool CPictureEx::WaitForDecode(HANDLE done)
{
    if (!m_animation.StopEvent()) return ::WaitForSingleObject(done, INFINITE) == WAIT_OBJECT_0;
    const HANDLE either[2] = {m_animation.StopEvent(), done};
    return ::WaitForMultipleObjects(2, either, FALSE, INFINITE) == WAIT_OBJECT_0 + 1 &&
           !m_animation.StopRequested();
}

DWORD CPictureEx::DrawFrame(IPicture* decoded)
{
    if (m_vecFrames.empty() || !m_surface) return picture::HoldMilliseconds(picture::kNoDelay);
    const GifFrame& frame = m_vecFrames[m_nFrameIndex];
    bool drawn = false;
    {
        win::Locked lock(m_surfaceLock);
        if (picture::SavesUnderlay(frame.nDisposalMethod)) SaveUnderlay(frame);
        drawn = picture::RenderPicture(m_surface.get(), decoded, frame.nLeft, frame.nTop,
                                       frame.nWidth, frame.nHeight);
    }
    if (drawn) {
        ++m_nFramesDrawn;
        Invalidate();
    }
    return picture::HoldMilliseconds(frame.nDelayCs);
}

void CPictureEx::DisposeFrame()
{
    if (m_vecFrames.empty() || !m_surface) return;
    const GifFrame& frame = m_vecFrames[m_nFrameIndex];
    win::Locked lock(m_surfaceLock);
    switch (picture::DisposalFor(frame.nDisposalMethod)) {
    case picture::Disposal::ClearToBackground:
        FillErase(frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight);
        break;
    case picture::Disposal::RestorePrevious:
        if (!m_saved) break;
        ::BitBlt(m_surface.get(), frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight,
                 m_saved.get(), 0, 0, SRCCOPY);
        m_saved.Reset();
        break;
    case picture::Disposal::Keep: break;
    }
}

void CPictureEx::AdvanceFrame()
{
    if (m_vecFrames.empty() || !m_surface) return;
    m_nFrameIndex =
        picture::NextFrameIndex(m_nFrameIndex, static_cast<std::uint32_t>(m_vecFrames.size()));
    if (m_nFrameIndex != 0) return;
    win::Locked lock(m_surfaceLock);
    FillErase(0, 0, m_nWidth, m_nHeight);
}

void CPictureEx::SaveUnderlay(const GifFrame& frame)
{
    // Nothing saved when the area cannot be made: this frame's disposal then does nothing.
    if (!m_saved.Create(m_surface.get(), frame.nWidth, frame.nHeight)) return;
    ::BitBlt(m_saved.get(), 0, 0, frame.nWidth, frame.nHeight, m_surface.get(), frame.nLeft,
             frame.nTop, SRCCOPY);
}

void CPictureEx::FillErase(int left, int top, int width, int height)
{
    win::GdiObject brush(::CreateSolidBrush(m_crErase));
    if (!brush) return;
    RECT area = {left, top, left + width, top + height};
    ::FillRect(m_surface.get(), &area, static_cast<HBRUSH>(brush.get()));
}

}  // namespace picture

// The animated picture control: a static control that shows a picture file, animating GIFs.
//
// Loading a GIF file reads only its Header and Logical Screen Descriptor, which size the
// control. A thread of the control's own then reads the file, splits it into stand-alone
// one-image GIFs, kept compressed, has each decoded by OleLoadPicture when it first comes round,
// draws the frames in turn into an offscreen surface that WM_PAINT copies to the screen, and keeps
// decoded frames within a byte budget (picture::FrameCache). Anything other than a GIF is
// decoded at load and drawn once.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/frame_cache.h"
#include "picture/picture_decoder.h"
#include "win/bitmap_dc.h"
#include "win/handles.h"
#include "win/subclass.h"
#include "win/thread.h"

namespace picture {
class GifParser;
struct GifScreen;

// One frame of an animation, compressed, with where and how long it shows.
struct GifFrame {
    // The frame as a complete one-image GIF, as the decoder takes it.
    std::vector<unsigned char> stream;
    std::int32_t nWidth = 0;
    std::int32_t nHeight = 0;
    std::int32_t nLeft = 0;
    std::int32_t nTop = 0;
    std::uint32_t nDelayCs = 0;
    std::uint32_t nDisposalMethod = 0;
    // Set by the animation thread: decoded at least once; rejected by the decoder.
    bool bDecoded = false;
    bool bUndecodable = false;
};

class CPictureEx : public win::SubclassedWindow {
public:
    CPictureEx();
    ~CPictureEx() override;

    // 1 when the surface was prepared for a GIF whose screen fits in the file (its frames are
    // found later, by the animation thread: a GIF broken past its head then shows nothing),
    // or for any other picture, decoded here; the control takes the picture's size in
    // pixels. A file that cannot be opened or read leaves what was shown before; any other
    // outcome starts from an empty control.
    int LoadFile(const std::wstring& path);
    // As LoadFile, with a GIF split into frames here. The caller keeps the block and frees it
    // afterwards.
    int LoadFromMemory(HGLOBAL block, DWORD size);
    // Draws a still picture once (1), or starts the thread that decodes and animates a GIF (0).
    int StartAnimation();
    // Ends the animation thread and releases every picture, frame and drawing object.
    void StopAnimation();

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    // Tests and benchmarks look inside and step the animation through this.
    friend struct PictureTestAccess;

    // `withStopEvent` false, as when the event cannot be made: a GIF's first frame is shown
    // and nothing more.
    explicit CPictureEx(bool withStopEvent);

    // Loading (picture_ex.cpp).
    bool LoadWholeFile(HANDLE file, DWORD size);
    bool LoadGifHead(win::File file, DWORD size, const picture::GifScreen& screen);
    bool LoadGif(picture::GifParser& parser);
    // On the animation thread, before its first decode: reads the file LoadFile kept open
    // and splits it. Nothing when the frames came from memory.
    void SplitFile();
    void SplitFrames(picture::GifParser& parser);
    bool LoadStill(const unsigned char* data, DWORD size);
    int PrepareSurface(int width, int height);
    void StopThread();
    void OnPaint();
    void OnDestroy();

    // The animation thread's body (picture_animation.cpp).
    void RunAnimation();
    std::size_t DecodableFrames() const;
    // Disposal of the current frame before it is first drawn.
    void BeginFrames();
    // The current frame decoded: kept, or decoded now; null when a stop cut the wait short
    // or the decoder rejects the frame.
    picture::PicturePtr ObtainFrame();
    bool WaitForDecode(HANDLE done);
    // Draws the current frame (saving what lies under it when it will be restored) and
    // returns how long it is to be held, in milliseconds.
    DWORD DrawFrame(IPicture* picture);
    void DisposeFrame();
    // Moves to the next frame; after the last the surface is cleared and the first follows.
    void AdvanceFrame();
    void SaveUnderlay(const GifFrame& frame);
    void FillErase(int left, int top, int width, int height);
    void Invalidate();

    // Loading state.
    int m_bGifStream = 0;
    std::int32_t m_nWidth = 0;
    std::int32_t m_nHeight = 0;
    picture::PicturePtr m_pStillPicture;
    std::vector<GifFrame> m_vecFrames;
    picture::FrameCache m_cache;
    // A GIF file whose frames are still to be split, and its length. Kept open (shared with
    // readers only) so that what the thread splits is what LoadFile sized the control for.
    win::File m_gifFile;
    DWORD m_nGifFileBytes = 0;
    // 1 once m_vecFrames is final: at load from memory, or once the thread has split the file.
    std::atomic<int> m_bFramesSplit{0};

    // Offscreen surface, and the area saved under a frame that restores what it covered.
    win::BitmapDc m_surface;
    win::BitmapDc m_saved;
    COLORREF m_crErase = RGB(255, 255, 255);
    int m_bSurfaceReady = 0;

    // Animation thread and its stop protocol.
    std::uint32_t m_nFrameIndex = 0;
    std::size_t m_nUndecodable = 0;
    win::Thread m_animation;
    // What the thread has done so far, for whoever watches: frames decoded at least once,
    // decodes in all, frames drawn.
    std::atomic<std::uint32_t> m_nDecodedFrames{0};
    std::atomic<std::uint32_t> m_nDecodes{0};
    std::atomic<std::uint32_t> m_nFramesDrawn{0};
    // Keeps WM_PAINT's copy from reading the surface halfway through a frame's drawing. Never
    // held across a decode, so a paint waits at most for one draw.
    win::Lock m_surfaceLock;
};

}  // namespace picture

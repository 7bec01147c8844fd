// The animated picture control: a static control that shows a picture file, animating GIFs.
//
// A GIF with several images is split into stand-alone one-image GIFs, each decoded once by
// OleLoadPicture; a thread of the control's own draws them in turn into an offscreen surface
// that WM_PAINT copies to the screen. Anything else the decoder takes is drawn once.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "win/handles.h"
#include "win/subclass.h"

namespace gif {
class GifParser;
}

// One decoded frame of an animation, with where and how long it shows.
struct GifFrame {
    Microsoft::WRL::ComPtr<IPicture> pDecoded;
    std::int32_t nWidth = 0;
    std::int32_t nHeight = 0;
    std::int32_t nLeft = 0;
    std::int32_t nTop = 0;
    std::uint32_t nDelayCs = 0;
    std::uint32_t nDisposalMethod = 0;
};

class CPictureEx : public win::SubclassedWindow {
public:
    CPictureEx();
    ~CPictureEx() override;

    // 1 when the file was decoded and the surface prepared. A file that cannot be opened or
    // read leaves what was shown before; any other outcome starts from an empty control.
    int LoadFile(const std::wstring& path);
    // The caller keeps the block and frees it afterwards.
    int LoadFromMemory(HGLOBAL block, DWORD size);
    // Draws a still picture once (1), or starts the animation thread (0).
    int StartAnimation();
    // Ends the animation thread and releases every picture, frame and drawing object.
    void StopAnimation();

    // One step of the animation, as its thread runs them; tests call them directly, with no
    // thread running, to step through the frames without a clock.
    // Disposal of the current frame before it is first drawn.
    void BeginFrames();
    // Draws the current frame (saving what lies under it when it will be restored) and
    // returns how long it is to be held, in milliseconds.
    DWORD DrawFrame();
    // Disposes of the current frame and moves to the next; after the last frame the surface
    // is cleared and the first follows.
    void DisposeFrame();

    // What tests and benchmarks look at.
    COLORREF SurfacePixel(int x, int y);
    std::size_t FrameCount() const { return m_vecFrames.size(); }
    std::uint32_t FrameIndex() const { return m_nFrameIndex; }
    bool HasStillPicture() const { return m_pStillPicture != nullptr; }
    int IsGifStream() const { return m_bGifStream; }
    std::int32_t PictureWidth() const { return m_nWidth; }
    std::int32_t PictureHeight() const { return m_nHeight; }
    HANDLE AnimationThread() const { return m_hAnimThread.get(); }
    const std::vector<GifFrame>& Frames() const { return m_vecFrames; }

protected:
    // Adopts `stopEvent` (may be null: then the control never starts a thread).
    explicit CPictureEx(HANDLE stopEvent);
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    // The lock the animation thread draws under, for drawing of a derived control's own.
    CRITICAL_SECTION& SurfaceLock() { return m_surfaceLock; }

private:
    int LoadGif(gif::GifParser& parser, HGLOBAL block, DWORD size);
    int LoadStill(HGLOBAL block, DWORD size);
    void DecodeFrames(gif::GifParser& parser);
    void DecodeEachFrame(gif::GifParser& parser);
    int PrepareSurface(int width, int height);
    void StopThread();
    void OnPaint();
    void OnDestroy();

    static unsigned __stdcall AnimationThreadProc(void* param);
    void RunAnimation();
    int DrawFirstFrameOnce();
    bool Render(IPicture* picture, int left, int top, int width, int height);
    void SaveUnderlay(const GifFrame& frame);
    void ApplyDisposal(const GifFrame& frame);
    void FillErase(int left, int top, int width, int height);
    void Invalidate();

    // Selects the previous bitmap back, then deletes the DC and the bitmap.
    static void ReleaseArea(win::MemoryDc& dc, win::GdiObject& bitmap, HGDIOBJ& previous);

    // Loading state.
    int m_bGifStream = 0;
    std::int32_t m_nWidth = 0;
    std::int32_t m_nHeight = 0;
    Microsoft::WRL::ComPtr<IPicture> m_pStillPicture;
    std::vector<GifFrame> m_vecFrames;

    // Offscreen surface, and the area saved under a frame that restores what it covered.
    win::MemoryDc m_hSurfaceDC;
    win::GdiObject m_hSurfaceBitmap;
    HGDIOBJ m_hSurfacePrevBitmap = nullptr;
    win::MemoryDc m_hSavedDC;
    win::GdiObject m_hSavedBitmap;
    HGDIOBJ m_hSavedPrevBitmap = nullptr;
    COLORREF m_crErase = RGB(255, 255, 255);
    int m_bSurfaceReady = 0;

    // Animation thread and its stop protocol.
    std::uint32_t m_nFrameIndex = 0;
    win::Handle m_hAnimThread;
    win::Handle m_hStopEvent;
    std::atomic<int> m_bStopRequested{0};
    // Keeps WM_PAINT's copy from reading the surface halfway through a frame's drawing.
    CRITICAL_SECTION m_surfaceLock;
};

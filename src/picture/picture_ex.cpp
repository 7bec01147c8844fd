#include "picture/picture_ex.h"

#include <process.h>

#include <cstring>
#include <new>
#include <utility>

#include "picture/animation_rules.h"
#include "picture/gif_parser.h"
#include "win/syslib.h"

using Microsoft::WRL::ComPtr;

namespace {

const DWORD kStopWaitMs = 5000;
const int kHimetricPerInch = 2540;

class LockGuard {
public:
    explicit LockGuard(CRITICAL_SECTION& lock) : m_lock(lock) { ::EnterCriticalSection(&m_lock); }
    ~LockGuard() { ::LeaveCriticalSection(&m_lock); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};

// GlobalLock/GlobalUnlock pair over a movable block.
class GlobalView {
public:
    explicit GlobalView(HGLOBAL block) : m_block(block), m_data(::GlobalLock(block)) {}
    ~GlobalView() { Unlock(); }
    GlobalView(const GlobalView&) = delete;
    GlobalView& operator=(const GlobalView&) = delete;
    unsigned char* get() const { return static_cast<unsigned char*>(m_data); }
    void Unlock()
    {
        if (m_data) ::GlobalUnlock(m_block);
        m_data = nullptr;
    }

private:
    HGLOBAL m_block;
    void* m_data;
};

// Decodes a complete picture file held in `block`. With `streamOwnsBlock` the stream frees
// the block when it is released, also when decoding fails.
ComPtr<IPicture> DecodePicture(HGLOBAL block, DWORD size, bool streamOwnsBlock)
{
    ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(block, streamOwnsBlock ? TRUE : FALSE, &stream))) {
        if (streamOwnsBlock) ::GlobalFree(block);
        return nullptr;
    }
    // Bound at run time: the path to the wizard never loads the OLE automation library.
    static const auto loadPicture =
        win::SystemFunction<decltype(&::OleLoadPicture)>(L"oleaut32.dll", "OleLoadPicture");
    ComPtr<IPicture> picture;
    if (!loadPicture ||
        loadPicture(stream.Get(), static_cast<LONG>(size), FALSE, IID_IPicture,
                    reinterpret_cast<void**>(picture.GetAddressOf())) != S_OK) {
        return nullptr;
    }
    return picture;
}

// Copies one frame stream into a movable block of its own and decodes it.
ComPtr<IPicture> DecodeFrameStream(const std::vector<unsigned char>& bytes)
{
    const DWORD size = static_cast<DWORD>(bytes.size());
    win::GlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block) return nullptr;
    {
        GlobalView view(block.get());
        if (!view.get()) return nullptr;
        std::memcpy(view.get(), bytes.data(), size);
    }
    return DecodePicture(block.release(), size, true);
}

}  // namespace

CPictureEx::CPictureEx() : CPictureEx(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CPictureEx::CPictureEx(HANDLE stopEvent) : m_hStopEvent(stopEvent)
{
    ::InitializeCriticalSection(&m_surfaceLock);
}

CPictureEx::~CPictureEx()
{
    StopAnimation();
    ::DeleteCriticalSection(&m_surfaceLock);
}

LRESULT CPictureEx::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        break;
    default:
        break;
    }
    return Default(msg, wp, lp);
}

int CPictureEx::LoadFile(const std::wstring& path)
{
    win::File file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    LARGE_INTEGER length{};
    // A file of 4 GiB or more would be read only in part; no picture is that large.
    if (!::GetFileSizeEx(file.get(), &length) || length.HighPart != 0 || length.LowPart == 0) {
        return 0;
    }
    const DWORD size = length.LowPart;
    win::GlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block) return 0;
    {
        GlobalView view(block.get());
        DWORD read = 0;
        if (!view.get() || !::ReadFile(file.get(), view.get(), size, &read, nullptr) || read != size) {
            return 0;
        }
    }
    file.reset();
    return LoadFromMemory(block.get(), size);
}

int CPictureEx::LoadFromMemory(HGLOBAL block, DWORD size)
{
    StopAnimation();
    GlobalView view(block);
    if (!view.get()) return 0;
    gif::GifParser parser(view.get(), size);
    if (parser.IsGifStream()) return LoadGif(parser, block, size);
    view.Unlock();
    return LoadStill(block, size);
}

int CPictureEx::LoadGif(gif::GifParser& parser, HGLOBAL block, DWORD size)
{
    m_bGifStream = 1;
    m_nWidth = parser.ScreenWidth();
    m_nHeight = parser.ScreenHeight();
    const std::uint32_t count = parser.CountFrames();
    if (count == 0) return 0;
    if (count == 1) {
        // One image: the decoder takes the whole file, and it is drawn once. Some decoders
        // reject a file cut short after its first image; its frame stream, a complete GIF,
        // still shows that image.
        m_pStillPicture = DecodePicture(block, size, false);
        gif::FrameStream stream;
        parser.Rewind();
        if (!m_pStillPicture && parser.ExtractNextFrame(stream)) m_pStillPicture = DecodeFrameStream(stream.bytes);
    } else {
        parser.Rewind();
        DecodeFrames(parser);
    }
    if (!m_pStillPicture && m_vecFrames.empty()) return 0;
    return PrepareSurface(m_nWidth, m_nHeight);
}

void CPictureEx::DecodeFrames(gif::GifParser& parser)
{
    // Running out of memory for a frame ends the extraction; the frames so far remain.
    try {
        DecodeEachFrame(parser);
    } catch (const std::bad_alloc&) {
    }
}

void CPictureEx::DecodeEachFrame(gif::GifParser& parser)
{
    gif::FrameStream stream;
    while (parser.ExtractNextFrame(stream)) {
        GifFrame frame;
        frame.pDecoded = DecodeFrameStream(stream.bytes);
        if (!frame.pDecoded) continue;  // a frame the decoder rejects is dropped
        frame.nWidth = stream.nWidth;
        frame.nHeight = stream.nHeight;
        frame.nLeft = stream.nLeft;
        frame.nTop = stream.nTop;
        frame.nDelayCs = stream.nDelayCs;
        frame.nDisposalMethod = stream.nDisposalMethod;
        m_vecFrames.push_back(std::move(frame));
    }
}

int CPictureEx::LoadStill(HGLOBAL block, DWORD size)
{
    m_pStillPicture = DecodePicture(block, size, false);
    if (!m_pStillPicture || !hwnd()) return 0;
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    m_pStillPicture->get_Width(&width);
    m_pStillPicture->get_Height(&height);
    {
        win::WindowDc dc(hwnd());
        if (!dc) return 0;
        m_nWidth = ::MulDiv(width, ::GetDeviceCaps(dc.get(), LOGPIXELSX), kHimetricPerInch);
        m_nHeight = ::MulDiv(height, ::GetDeviceCaps(dc.get(), LOGPIXELSY), kHimetricPerInch);
    }
    return PrepareSurface(m_nWidth, m_nHeight);
}

int CPictureEx::PrepareSurface(int width, int height)
{
    // GetDC(nullptr) would hand us the whole screen's DC.
    if (!hwnd()) return 0;
    ::SetWindowPos(hwnd(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    win::WindowDc windowDc(hwnd());
    if (!windowDc) return 0;
    win::MemoryDc dc(::CreateCompatibleDC(windowDc.get()));
    if (!dc) return 0;
    win::GdiObject bitmap(::CreateCompatibleBitmap(windowDc.get(), width, height));
    if (!bitmap) return 0;
    m_hSurfacePrevBitmap = ::SelectObject(dc.get(), bitmap.get());
    m_hSurfaceDC = std::move(dc);
    m_hSurfaceBitmap = std::move(bitmap);
    m_crErase = ::GetSysColor(COLOR_BTNFACE);
    // The first fill is the menu colour; later clears use the button face in m_crErase.
    RECT all = {0, 0, width, height};
    ::FillRect(m_hSurfaceDC.get(), &all, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1)));
    m_bSurfaceReady = 1;
    return 1;
}

void CPictureEx::ReleaseArea(win::MemoryDc& dc, win::GdiObject& bitmap, HGDIOBJ& previous)
{
    if (dc && previous) ::SelectObject(dc.get(), previous);
    dc.reset();
    bitmap.reset();
    previous = nullptr;
}

void CPictureEx::StopThread()
{
    m_bStopRequested = 1;
    if (m_hStopEvent) ::SetEvent(m_hStopEvent.get());
    if (m_hAnimThread) {
        // The thread sees the flag after its current draw. Until it has ended it may still
        // touch the frames and the surface, so keep waiting rather than free them under it.
        while (::WaitForSingleObject(m_hAnimThread.get(), kStopWaitMs) == WAIT_TIMEOUT) {
        }
        m_hAnimThread.reset();
    }
    if (m_hStopEvent) ::ResetEvent(m_hStopEvent.get());
    m_bStopRequested = 0;
}

void CPictureEx::StopAnimation()
{
    StopThread();
    m_pStillPicture.Reset();
    m_vecFrames.clear();
    ReleaseArea(m_hSurfaceDC, m_hSurfaceBitmap, m_hSurfacePrevBitmap);
    ReleaseArea(m_hSavedDC, m_hSavedBitmap, m_hSavedPrevBitmap);
    m_bSurfaceReady = 0;
    m_bGifStream = 0;
    m_crErase = RGB(255, 255, 255);
    m_nFrameIndex = 0;
}

void CPictureEx::OnDestroy()
{
    StopThread();
}

void CPictureEx::OnPaint()
{
    win::PaintDc paint(hwnd());
    LockGuard lock(m_surfaceLock);
    if (m_hSurfaceDC) {
        ::BitBlt(paint.get(), 0, 0, m_nWidth, m_nHeight, m_hSurfaceDC.get(), 0, 0, SRCCOPY);
    }
}

int CPictureEx::StartAnimation()
{
    if (!m_bSurfaceReady) return 0;
    if (m_bGifStream && m_vecFrames.size() >= 2) {
        // Without a stop event a hold could not be cut short, so the thread could never be
        // stopped promptly: show the first frame instead.
        if (!m_hStopEvent) return DrawFirstFrameOnce();
        // A second thread would draw over the same surface and leak the first one's handle.
        if (m_hAnimThread) return 0;
        // Created suspended so that the handle is stored before the thread can run.
        m_hAnimThread.reset(reinterpret_cast<HANDLE>(
            ::_beginthreadex(nullptr, 0, &CPictureEx::AnimationThreadProc, this, CREATE_SUSPENDED, nullptr)));
        if (m_hAnimThread && ::ResumeThread(m_hAnimThread.get()) == static_cast<DWORD>(-1)) {
            // It never ran, so it holds nothing of ours.
            ::TerminateThread(m_hAnimThread.get(), 0);
            m_hAnimThread.reset();
        }
        return 0;
    }
    if (!m_pStillPicture) return 0;
    LockGuard lock(m_surfaceLock);
    if (!Render(m_pStillPicture.Get(), 0, 0, m_nWidth, m_nHeight)) return 0;
    Invalidate();
    return 1;
}

int CPictureEx::DrawFirstFrameOnce()
{
    LockGuard lock(m_surfaceLock);
    const GifFrame& frame = m_vecFrames.front();
    if (!Render(frame.pDecoded.Get(), frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight)) return 0;
    Invalidate();
    return 1;
}

unsigned __stdcall CPictureEx::AnimationThreadProc(void* param)
{
    try {
        static_cast<CPictureEx*>(param)->RunAnimation();
    } catch (...) {
    }
    return 0;
}

void CPictureEx::RunAnimation()
{
    BeginFrames();
    while (!m_bStopRequested) {
        const DWORD hold = DrawFrame();
        if (m_bStopRequested) break;
        // A stop signals the event, which cuts the hold short.
        ::WaitForSingleObject(m_hStopEvent.get(), hold);
        if (m_bStopRequested) break;
        DisposeFrame();
    }
}

void CPictureEx::BeginFrames()
{
    if (m_vecFrames.empty() || !m_hSurfaceDC) return;
    LockGuard lock(m_surfaceLock);
    ApplyDisposal(m_vecFrames[m_nFrameIndex]);
}

DWORD CPictureEx::DrawFrame()
{
    if (m_vecFrames.empty() || !m_hSurfaceDC) return gif::HoldMilliseconds(gif::kNoDelay);
    const GifFrame& frame = m_vecFrames[m_nFrameIndex];
    bool drawn = false;
    {
        LockGuard lock(m_surfaceLock);
        if (gif::SavesUnderlay(frame.nDisposalMethod)) SaveUnderlay(frame);
        drawn = Render(frame.pDecoded.Get(), frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight);
    }
    if (drawn) Invalidate();
    return gif::HoldMilliseconds(frame.nDelayCs);
}

void CPictureEx::DisposeFrame()
{
    if (m_vecFrames.empty() || !m_hSurfaceDC) return;
    LockGuard lock(m_surfaceLock);
    ApplyDisposal(m_vecFrames[m_nFrameIndex]);
    m_nFrameIndex = gif::NextFrameIndex(m_nFrameIndex, static_cast<std::uint32_t>(m_vecFrames.size()));
    if (m_nFrameIndex == 0) FillErase(0, 0, m_nWidth, m_nHeight);
}

void CPictureEx::SaveUnderlay(const GifFrame& frame)
{
    ReleaseArea(m_hSavedDC, m_hSavedBitmap, m_hSavedPrevBitmap);
    win::MemoryDc dc(::CreateCompatibleDC(m_hSurfaceDC.get()));
    win::GdiObject bitmap(::CreateCompatibleBitmap(m_hSurfaceDC.get(), frame.nWidth, frame.nHeight));
    if (!dc || !bitmap) return;  // nothing saved: this frame's disposal does nothing
    m_hSavedPrevBitmap = ::SelectObject(dc.get(), bitmap.get());
    ::BitBlt(dc.get(), 0, 0, frame.nWidth, frame.nHeight, m_hSurfaceDC.get(), frame.nLeft, frame.nTop, SRCCOPY);
    m_hSavedDC = std::move(dc);
    m_hSavedBitmap = std::move(bitmap);
}

void CPictureEx::ApplyDisposal(const GifFrame& frame)
{
    switch (gif::DisposalFor(frame.nDisposalMethod)) {
    case gif::Disposal::ClearToBackground:
        FillErase(frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight);
        break;
    case gif::Disposal::RestorePrevious:
        if (!m_hSavedDC) break;
        ::BitBlt(m_hSurfaceDC.get(), frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight, m_hSavedDC.get(), 0,
                 0, SRCCOPY);
        ReleaseArea(m_hSavedDC, m_hSavedBitmap, m_hSavedPrevBitmap);
        break;
    case gif::Disposal::Keep:
        break;
    }
}

void CPictureEx::FillErase(int left, int top, int width, int height)
{
    win::GdiObject brush(::CreateSolidBrush(m_crErase));
    if (!brush) return;
    RECT area = {left, top, left + width, top + height};
    ::FillRect(m_hSurfaceDC.get(), &area, static_cast<HBRUSH>(brush.get()));
}

bool CPictureEx::Render(IPicture* picture, int left, int top, int width, int height)
{
    if (!picture || !m_hSurfaceDC) return false;
    OLE_XSIZE_HIMETRIC himetricWidth = 0;
    OLE_YSIZE_HIMETRIC himetricHeight = 0;
    picture->get_Width(&himetricWidth);
    picture->get_Height(&himetricHeight);
    // Source from the bottom up with a negative height: HIMETRIC runs upwards.
    return picture->Render(m_hSurfaceDC.get(), left, top, width, height, 0, himetricHeight, himetricWidth,
                           -himetricHeight, nullptr) == S_OK;
}

void CPictureEx::Invalidate()
{
    if (hwnd()) ::InvalidateRect(hwnd(), nullptr, FALSE);
}

COLORREF CPictureEx::SurfacePixel(int x, int y)
{
    LockGuard lock(m_surfaceLock);
    return m_hSurfaceDC ? ::GetPixel(m_hSurfaceDC.get(), x, y) : CLR_INVALID;
}

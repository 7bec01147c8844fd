#include "picture/picture_ex.h"

#include <memory>
#include <new>
#include <utility>

#include "picture/gif_parser.h"
#include "win/thread.h"

namespace picture {

namespace {

const DWORD kStopWaitMs = 5000;

}  // namespace

CPictureEx::CPictureEx() : CPictureEx(true) {}

CPictureEx::CPictureEx(bool withStopEvent) : m_animation(withStopEvent) {}

CPictureEx::~CPictureEx() { StopAnimation(); }

LRESULT CPictureEx::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_PAINT: OnPaint(); return 0;
    case WM_DESTROY: OnDestroy(); break;
    default: break;
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
    unsigned char head[picture::kScreenHeaderBytes];
    const DWORD wanted = size < sizeof head ? size : static_cast<DWORD>(sizeof head);
    DWORD read = 0;
    if (!::ReadFile(file.get(), head, wanted, &read, nullptr) || read != wanted) return 0;
    const picture::GifScreen screen = picture::ReadGifScreen(head, read, size);
    if (screen.kind != picture::GifHead::NotGif)
        return LoadGifHead(std::move(file), size, screen) ? 1 : 0;
    return LoadWholeFile(file.get(), size) ? 1 : 0;
}

bool CPictureEx::LoadWholeFile(HANDLE file, DWORD size)
{
    if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
    win::GlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block) return false;
    {
        win::GlobalView view(block.get());
        DWORD read = 0;
        if (!view.get() || !::ReadFile(file, view.get(), size, &read, nullptr) || read != size)
            return false;
    }
    return LoadFromMemory(block.get(), size) != 0;
}

bool CPictureEx::LoadGifHead(win::File file, DWORD size, const picture::GifScreen& screen)
{
    StopAnimation();
    m_bGifStream = 1;
    // A head cut short has no screen and no frames, as GifParser reads it.
    if (screen.kind != picture::GifHead::Screen) return false;
    m_nWidth = screen.nWidth;
    m_nHeight = screen.nHeight;
    if (!PrepareSurface(m_nWidth, m_nHeight)) return false;
    m_gifFile = std::move(file);
    m_nGifFileBytes = size;
    return true;
}

int CPictureEx::LoadFromMemory(HGLOBAL block, DWORD size)
{
    StopAnimation();
    win::GlobalView view(block);
    if (!view.get()) return 0;
    picture::GifParser parser(view.get(), size);
    if (parser.IsGifStream()) return LoadGif(parser);
    return LoadStill(view.get(), size);
}

bool CPictureEx::LoadGif(picture::GifParser& parser)
{
    m_bGifStream = 1;
    m_nWidth = parser.ScreenWidth();
    m_nHeight = parser.ScreenHeight();
    SplitFrames(parser);
    if (m_vecFrames.empty()) return false;
    m_cache.Reset(m_vecFrames.size());
    m_bFramesSplit = 1;
    return PrepareSurface(m_nWidth, m_nHeight) != 0;
}

void CPictureEx::SplitFile()
{
    if (!m_gifFile) return;
    const win::File file = std::move(m_gifFile);
    // The file's size is the settings' choice: a file the heap cannot hold leaves the control
    // without an animation rather than ending the program. Its frames hold no more than it.
    const std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[m_nGifFileBytes]);
    DWORD read = 0;
    if (bytes && ::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ::ReadFile(file.get(), bytes.get(), m_nGifFileBytes, &read, nullptr) &&
        read == m_nGifFileBytes) {
        picture::GifParser parser(bytes.get(), m_nGifFileBytes);
        SplitFrames(parser);
    }
    m_cache.Reset(m_vecFrames.size());
    m_bFramesSplit = 1;
}

void CPictureEx::SplitFrames(picture::GifParser& parser)
{
    parser.Rewind();
    picture::FrameStream stream;
    // A stop ends the split: the frames are about to be released.
    while (!m_animation.StopRequested() && parser.ExtractNextFrame(stream)) {
        GifFrame frame;
        frame.stream = std::move(stream.bytes);
        frame.nWidth = stream.nWidth;
        frame.nHeight = stream.nHeight;
        frame.nLeft = stream.nLeft;
        frame.nTop = stream.nTop;
        frame.nDelayCs = stream.nDelayCs;
        frame.nDisposalMethod = stream.nDisposalMethod;
        m_vecFrames.push_back(std::move(frame));
        stream = picture::FrameStream();
    }
}

bool CPictureEx::LoadStill(const unsigned char* data, DWORD size)
{
    m_pStillPicture = picture::DecodeBytes(data, size);
    if (!m_pStillPicture || !hwnd()) return false;
    {
        win::WindowDc dc(hwnd());
        if (!dc) return false;
        const SIZE pixels = picture::NaturalPixelSize(m_pStillPicture.Get(), dc.get());
        m_nWidth = pixels.cx;
        m_nHeight = pixels.cy;
    }
    return PrepareSurface(m_nWidth, m_nHeight) != 0;
}

int CPictureEx::PrepareSurface(int width, int height)
{
    // GetDC(nullptr) would hand us the whole screen's DC.
    if (!hwnd()) return 0;
    // The control takes the picture's size in pixels and WM_PAINT copies the surface one to
    // one, so the animation shows at its own size whatever the dialog's scaling.
    ::SetWindowPos(hwnd(), nullptr, 0, 0, width, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    win::WindowDc windowDc(hwnd());
    if (!windowDc || !m_surface.Create(windowDc.get(), width, height)) return 0;
    m_crErase = ::GetSysColor(COLOR_BTNFACE);
    // The first fill is the menu colour; later clears use the button face in m_crErase.
    RECT all = {0, 0, width, height};
    ::FillRect(m_surface.get(), &all,
               reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1)));
    m_bSurfaceReady = 1;
    return 1;
}

int CPictureEx::StartAnimation()
{
    if (!m_bSurfaceReady) return 0;
    if (m_bGifStream) {
        // A second thread would draw over the same surface and leak the first one's handle.
        // Once started, the thread owns the file and the frames.
        if (m_animation.Started() || (!m_gifFile && m_vecFrames.empty())) return 0;
        m_animation.Start<CPictureEx, &CPictureEx::RunAnimation>(this);
        return 0;
    }
    if (!m_pStillPicture) return 0;
    {
        win::Locked lock(m_surfaceLock);
        if (!picture::RenderPicture(m_surface.get(), m_pStillPicture.Get(), 0, 0, m_nWidth,
                                    m_nHeight))
            return 0;
    }
    Invalidate();
    return 1;
}

void CPictureEx::StopThread()
{
    // The thread sees the request after its current draw; a decode under way is left to finish
    // on its own thread. Until the thread has ended it may still touch the frames and the
    // surface, so keep waiting rather than free them under it. The caller owns the window:
    // messages sent to it meanwhile are answered.
    m_animation.RequestStop();
    while (!m_animation.JoinAnswering(kStopWaitMs)) {}
}

void CPictureEx::StopAnimation()
{
    StopThread();
    m_pStillPicture.Reset();
    m_vecFrames.clear();
    m_gifFile.reset();
    m_nGifFileBytes = 0;
    m_bFramesSplit = 0;
    m_cache.Reset(0);
    m_surface.Reset();
    m_saved.Reset();
    m_bSurfaceReady = 0;
    m_bGifStream = 0;
    m_crErase = RGB(255, 255, 255);
    m_nFrameIndex = 0;
    m_nUndecodable = 0;
    m_nDecodedFrames = 0;
    m_nDecodes = 0;
    m_nFramesDrawn = 0;
}

void CPictureEx::OnDestroy() { StopThread(); }

void CPictureEx::OnPaint()
{
    win::PaintDc paint(hwnd());
    win::Locked lock(m_surfaceLock);
    if (m_surface) ::BitBlt(paint.get(), 0, 0, m_nWidth, m_nHeight, m_surface.get(), 0, 0, SRCCOPY);
}

void CPictureEx::Invalidate()
{
    if (hwnd()) ::InvalidateRect(hwnd(), nullptr, FALSE);
}

}  // namespace picture

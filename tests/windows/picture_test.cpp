#include "picture/picture_ex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../native/gif_builder.h"
#include "test_support.h"

namespace gb = gifbuild;
using testing_support::ScratchDir;

namespace {

// Distinct system colours for the surface's first fill and for later clears.
const COLORREF kMenu = RGB(10, 20, 30);
const COLORREF kButtonFace = RGB(200, 100, 50);
const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kGreen = RGB(0, 255, 0);
const COLORREF kBlue = RGB(0, 0, 255);
const COLORREF kWhite = RGB(255, 255, 255);

// A picture control as the dialog has it: a small black-frame static in a parent window.
class PictureControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        const int indices[2] = {COLOR_MENU, COLOR_BTNFACE};
        m_savedColors[0] = ::GetSysColor(COLOR_MENU);
        m_savedColors[1] = ::GetSysColor(COLOR_BTNFACE);
        const COLORREF ours[2] = {kMenu, kButtonFace};
        ASSERT_TRUE(::SetSysColors(2, indices, ours));
        m_parent = ::CreateWindowExW(0, L"STATIC", L"picture test", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                     nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_parent, nullptr);
        m_static = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, 10, 12, 100,
                                     50, m_parent, nullptr, nullptr, nullptr);
        ASSERT_NE(m_static, nullptr);
        ASSERT_TRUE(m_picture.Attach(m_static));
    }

    void TearDown() override
    {
        m_picture.StopAnimation();
        if (::IsWindow(m_parent)) ::DestroyWindow(m_parent);
        const int indices[2] = {COLOR_MENU, COLOR_BTNFACE};
        ::SetSysColors(2, indices, m_savedColors);
    }

    int Load(const std::string& bytes, const wchar_t* name = L"picture.gif")
    {
        const std::wstring path = m_dir / name;
        EXPECT_TRUE(testing_support::WriteBytes(path, bytes));
        return m_picture.LoadFile(path);
    }

    SIZE ControlSize() const
    {
        RECT r{};
        ::GetWindowRect(m_static, &r);
        return SIZE{r.right - r.left, r.bottom - r.top};
    }

    POINT ControlPosition() const
    {
        RECT r{};
        ::GetWindowRect(m_static, &r);
        POINT p{r.left, r.top};
        ::ScreenToClient(m_parent, &p);
        return p;
    }

    // Polls the surface until the pixel shows `color`; false after a generous wait.
    bool WaitForPixel(int x, int y, COLORREF color)
    {
        for (int i = 0; i < 1000; ++i) {
            if (m_picture.SurfacePixel(x, y) == color) return true;
            ::Sleep(10);
        }
        return false;
    }

    ScratchDir m_dir;
    HWND m_parent = nullptr;
    HWND m_static = nullptr;
    CPictureEx m_picture;
    COLORREF m_savedColors[2] = {};
};

std::string TwoFrames(unsigned size, unsigned delayCs)
{
    return gb::Screen(size, size) + gb::GraphicControl(0, delayCs) + gb::SolidImage(0, 0, size, size, gb::kRed) +
           gb::GraphicControl(0, delayCs) + gb::SolidImage(0, 0, size, size, gb::kGreen) + gb::Trailer();
}

// A 24-bit bottom-up BMP of one colour.
std::string SolidBmp(int width, int height, COLORREF color)
{
    const int stride = (width * 3 + 3) & ~3;
    const int pixels = stride * height;
    std::string out("BM");
    auto u32 = [&](unsigned v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&](unsigned v) { gb::PutU16(out, v); };
    u32(14 + 40 + pixels);
    u32(0);
    u32(14 + 40);
    u32(40);
    u32(width);
    u32(height);
    u16(1);
    u16(24);
    u32(0);
    u32(pixels);
    u32(3780);  // 96 dots per inch, in dots per metre
    u32(3780);
    u32(0);
    u32(0);
    for (int y = 0; y < height; ++y) {
        std::string row;
        for (int x = 0; x < width; ++x) {
            row.push_back(static_cast<char>(GetBValue(color)));
            row.push_back(static_cast<char>(GetGValue(color)));
            row.push_back(static_cast<char>(GetRValue(color)));
        }
        row.resize(stride, '\0');
        out += row;
    }
    return out;
}

}  // namespace

TEST_F(PictureControl, PicturesLoadAtTheirPixelSize)
{
    const POINT before = ControlPosition();
    ASSERT_EQ(Load(TwoFrames(32, 10)), 1);
    EXPECT_EQ(ControlSize().cx, 32);
    EXPECT_EQ(ControlSize().cy, 32);
    EXPECT_EQ(ControlPosition().x, before.x);
    EXPECT_EQ(ControlPosition().y, before.y);
    EXPECT_EQ(m_picture.FrameCount(), 2u);
    EXPECT_FALSE(m_picture.HasStillPicture());

    const struct {
        const char* name;
        std::string bytes;
        const wchar_t* file;
        int width, height, gif;
        COLORREF color;
    } cases[] = {
        {"still GIF", gb::Screen(20, 10) + gb::GraphicControl(0, 10) + gb::SolidImage(0, 0, 20, 10, gb::kRed) +
                          gb::Trailer(),
         L"still.gif", 20, 10, 1, kRed},
        {"two frames cut inside the second", TwoFrames(12, 10).substr(0, TwoFrames(12, 10).size() - 20),
         L"cut.gif", 12, 12, 1, kRed},
        {"BMP", SolidBmp(24, 16, kGreen), L"picture.bmp", 24, 16, 0, kGreen},
        {"JPEG", testing_support::ReadBytes(testing_support::FixturePath(L"picture_48x40.jpg")), L"picture.jpg",
         48, 40, 0, kBlue},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.bytes.empty()) << c.name;
        ASSERT_EQ(Load(c.bytes, c.file), 1) << c.name;
        EXPECT_TRUE(m_picture.HasStillPicture()) << c.name;
        EXPECT_EQ(m_picture.FrameCount(), 0u) << c.name;
        EXPECT_EQ(m_picture.IsGifStream(), c.gif) << c.name;
        EXPECT_EQ(m_picture.PictureWidth(), c.width) << c.name;
        EXPECT_EQ(m_picture.PictureHeight(), c.height) << c.name;
        EXPECT_EQ(ControlSize().cx, c.width) << c.name;
        EXPECT_EQ(ControlSize().cy, c.height) << c.name;
        // Prepared with the menu colour; a still picture is drawn once, without a thread.
        EXPECT_EQ(m_picture.SurfacePixel(c.width / 2, c.height / 2), kMenu) << c.name;
        EXPECT_EQ(m_picture.StartAnimation(), 1) << c.name;
        EXPECT_EQ(m_picture.AnimationThread(), nullptr) << c.name;
        const COLORREF drawn = m_picture.SurfacePixel(c.width / 2, c.height / 2);
        // JPEG is lossy: allow a little drift from pure blue.
        EXPECT_NEAR(GetRValue(drawn), GetRValue(c.color), 8) << c.name;
        EXPECT_NEAR(GetGValue(drawn), GetGValue(c.color), 8) << c.name;
        EXPECT_NEAR(GetBValue(drawn), GetBValue(c.color), 8) << c.name;
    }
    // The size stays after the control is emptied.
    m_picture.StopAnimation();
    EXPECT_EQ(m_picture.PictureWidth(), 48);
    EXPECT_EQ(m_picture.SurfacePixel(0, 0), CLR_INVALID);
}

TEST_F(PictureControl, FramesAreDrawnHeldAndDisposed)
{
    // 8x8 screen: red all over (kept), green 4x4 at (2,2) (cleared), blue 2x2 at (0,0)
    // (restored), white 2x2 at (5,5) without control extension (kept).
    const std::string file = gb::Screen(8, 8) + gb::LoopingApplication() + gb::GraphicControl(1, 10) +
                             gb::SolidImage(0, 0, 8, 8, gb::kRed) + gb::GraphicControl(2, 5) +
                             gb::SolidImage(2, 2, 4, 4, gb::kGreen) + gb::GraphicControl(3, 0) +
                             gb::SolidImage(0, 0, 2, 2, gb::kBlue) + gb::SolidImage(5, 5, 2, 2, gb::kWhite) +
                             gb::Trailer();
    ASSERT_EQ(Load(file), 1);
    ASSERT_EQ(m_picture.FrameCount(), 4u);

    m_picture.BeginFrames();
    EXPECT_EQ(m_picture.SurfacePixel(0, 0), kMenu);
    EXPECT_EQ(m_picture.DrawFrame(), 100u);
    EXPECT_EQ(m_picture.SurfacePixel(0, 0), kRed);
    EXPECT_EQ(m_picture.SurfacePixel(7, 7), kRed);
    m_picture.DisposeFrame();  // method 1: stays
    EXPECT_EQ(m_picture.SurfacePixel(3, 3), kRed);

    EXPECT_EQ(m_picture.DrawFrame(), 50u);
    EXPECT_EQ(m_picture.SurfacePixel(2, 2), kGreen);
    EXPECT_EQ(m_picture.SurfacePixel(5, 5), kGreen);
    EXPECT_EQ(m_picture.SurfacePixel(6, 6), kRed);
    m_picture.DisposeFrame();  // method 2: the rectangle is cleared with the button face
    EXPECT_EQ(m_picture.SurfacePixel(2, 2), kButtonFace);
    EXPECT_EQ(m_picture.SurfacePixel(5, 5), kButtonFace);
    EXPECT_EQ(m_picture.SurfacePixel(6, 6), kRed);
    EXPECT_EQ(m_picture.SurfacePixel(1, 1), kRed);

    EXPECT_EQ(m_picture.DrawFrame(), 100u);
    EXPECT_EQ(m_picture.SurfacePixel(0, 0), kBlue);
    EXPECT_EQ(m_picture.SurfacePixel(1, 1), kBlue);
    m_picture.DisposeFrame();  // method 3: what lay under comes back
    EXPECT_EQ(m_picture.SurfacePixel(0, 0), kRed);
    EXPECT_EQ(m_picture.SurfacePixel(1, 1), kRed);
    EXPECT_EQ(m_picture.SurfacePixel(2, 2), kButtonFace);

    EXPECT_EQ(m_picture.DrawFrame(), 100u);  // no control extension: held like delay 0
    EXPECT_EQ(m_picture.SurfacePixel(5, 5), kWhite);
    EXPECT_EQ(m_picture.FrameIndex(), 3u);
    m_picture.DisposeFrame();  // after the last frame the whole surface is cleared
    EXPECT_EQ(m_picture.FrameIndex(), 0u);
    for (int xy = 0; xy < 8; ++xy) EXPECT_EQ(m_picture.SurfacePixel(xy, xy), kButtonFace) << xy;

    EXPECT_EQ(m_picture.DrawFrame(), 100u);
    EXPECT_EQ(m_picture.SurfacePixel(4, 4), kRed);
}

TEST_F(PictureControl, FirstFrameThatClearsIsClearedBeforeItIsDrawn)
{
    const std::string file = gb::Screen(8, 8) + gb::GraphicControl(2, 10) + gb::SolidImage(2, 2, 2, 2, gb::kRed) +
                             gb::GraphicControl(0, 10) + gb::SolidImage(0, 0, 8, 8, gb::kGreen) + gb::Trailer();
    ASSERT_EQ(Load(file), 1);
    m_picture.BeginFrames();
    EXPECT_EQ(m_picture.SurfacePixel(2, 2), kButtonFace);
    EXPECT_EQ(m_picture.SurfacePixel(3, 3), kButtonFace);
    EXPECT_EQ(m_picture.SurfacePixel(4, 4), kMenu);
}

TEST_F(PictureControl, HoldOfEachDelay)
{
    const struct {
        int delayCs;  // -1: no control extension
        DWORD holdMs;
    } cases[] = {{0, 100}, {1, 100}, {2, 100}, {3, 100}, {4, 100}, {5, 50}, {10, 100}, {65535, 655350}, {-1, 100}};
    std::string file = gb::Screen(2, 2);
    for (const auto& c : cases) {
        if (c.delayCs >= 0) file += gb::GraphicControl(0, static_cast<unsigned>(c.delayCs));
        file += gb::SolidImage(0, 0, 2, 2, gb::kRed);
    }
    ASSERT_EQ(Load(file + gb::Trailer()), 1);
    ASSERT_EQ(m_picture.FrameCount(), sizeof cases / sizeof cases[0]);
    for (const auto& c : cases) {
        EXPECT_EQ(m_picture.DrawFrame(), c.holdMs) << c.delayCs;
        m_picture.DisposeFrame();
    }
}

TEST_F(PictureControl, ThreadAnimatesAndStopsAtOnceDuringALongHold)
{
    ASSERT_EQ(Load(TwoFrames(4, 5)), 1);
    EXPECT_EQ(m_picture.StartAnimation(), 0);
    ASSERT_NE(m_picture.AnimationThread(), nullptr);
    EXPECT_TRUE(WaitForPixel(1, 1, kGreen));
    EXPECT_TRUE(WaitForPixel(1, 1, kRed));
    m_picture.StopAnimation();
    EXPECT_EQ(m_picture.AnimationThread(), nullptr);

    // 655.35 s per frame: the stop must cut the hold short.
    ASSERT_EQ(Load(TwoFrames(4, 65535)), 1);
    m_picture.StartAnimation();
    ASSERT_TRUE(WaitForPixel(1, 1, kRed));
    const ULONGLONG start = ::GetTickCount64();
    m_picture.StopAnimation();
    EXPECT_LT(::GetTickCount64() - start, 4000u);
    EXPECT_EQ(m_picture.AnimationThread(), nullptr);
    EXPECT_EQ(m_picture.FrameCount(), 0u);
}

TEST_F(PictureControl, PaintCopiesTheSurfaceToTheScreen)
{
    ::ShowWindow(m_parent, SW_SHOW);
    ASSERT_EQ(Load(gb::Screen(16, 16) + gb::SolidImage(0, 0, 16, 16, gb::kBlue) + gb::Trailer()), 1);
    ASSERT_EQ(m_picture.StartAnimation(), 1);
    ::UpdateWindow(m_static);
    HDC dc = ::GetDC(m_static);
    const COLORREF shown = ::GetPixel(dc, 8, 8);
    ::ReleaseDC(m_static, dc);
    EXPECT_EQ(shown, kBlue);
}

TEST_F(PictureControl, OnlyOneDecodableFrameMeansNothingToAnimate)
{
    // The second image asks for an LZW code size no decoder accepts; the walk still passes it.
    std::string broken = gb::SolidImage(0, 0, 4, 4, gb::kGreen);
    broken[10] = 0x0F;
    const std::string file = gb::Screen(4, 4) + gb::GraphicControl(0, 10) + gb::SolidImage(0, 0, 4, 4, gb::kRed) +
                             gb::GraphicControl(0, 10) + broken + gb::Trailer();
    ASSERT_EQ(Load(file), 1);
    EXPECT_EQ(m_picture.FrameCount(), 1u);
    EXPECT_FALSE(m_picture.HasStillPicture());
    EXPECT_EQ(m_picture.StartAnimation(), 0);
    EXPECT_EQ(m_picture.AnimationThread(), nullptr);
    EXPECT_EQ(m_picture.SurfacePixel(1, 1), kMenu);
}

TEST_F(PictureControl, FailedLoadsAndWhatTheyLeave)
{
    ASSERT_EQ(Load(TwoFrames(4, 10)), 1);
    m_picture.StartAnimation();
    ASSERT_NE(m_picture.AnimationThread(), nullptr);

    // A path that cannot be opened leaves the animation running.
    EXPECT_EQ(m_picture.LoadFile(m_dir / L"missing.gif"), 0);
    EXPECT_NE(m_picture.AnimationThread(), nullptr);
    EXPECT_EQ(m_picture.FrameCount(), 2u);
    EXPECT_EQ(Load("", L"empty.gif"), 0);
    EXPECT_EQ(m_picture.FrameCount(), 2u);

    // A file that was read replaces everything, even when it does not parse or decode.
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"trailer first", gb::Screen(4, 4) + gb::Trailer()},
        {"cut inside the first frame", TwoFrames(4, 10).substr(0, 40)},
        {"not a picture", "this is no picture at all"},
        {"single image the decoder rejects", gb::Screen(4, 4) + "\x2C" + std::string(9, '\0') + "\x0F\x01\x00\x00"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Load(TwoFrames(4, 10)), 1) << c.name;
        m_picture.StartAnimation();
        EXPECT_EQ(Load(c.bytes, L"second.gif"), 0) << c.name;
        EXPECT_EQ(m_picture.AnimationThread(), nullptr) << c.name;
        EXPECT_EQ(m_picture.FrameCount(), 0u) << c.name;
        EXPECT_FALSE(m_picture.HasStillPicture()) << c.name;
        EXPECT_EQ(m_picture.SurfacePixel(0, 0), CLR_INVALID) << c.name;
        EXPECT_EQ(m_picture.StartAnimation(), 0) << c.name;
    }
}

TEST_F(PictureControl, StoppingIsHarmlessAtAnyTime)
{
    CPictureEx empty;
    empty.StopAnimation();
    empty.StopAnimation();
    EXPECT_EQ(empty.StartAnimation(), 0);

    ASSERT_EQ(Load(TwoFrames(4, 65535)), 1);
    m_picture.StartAnimation();
    ASSERT_TRUE(WaitForPixel(1, 1, kRed));
    // Destroying the window stops the thread; frames stay until StopAnimation.
    ::DestroyWindow(m_parent);
    EXPECT_EQ(m_picture.AnimationThread(), nullptr);
    EXPECT_EQ(m_picture.FrameCount(), 2u);
    m_picture.StopAnimation();
    m_picture.StopAnimation();
    EXPECT_EQ(m_picture.FrameCount(), 0u);
    EXPECT_EQ(Load(TwoFrames(4, 10)), 0);  // no window to size or draw for
}

namespace {
// A control whose stop event could not be created.
class PictureWithoutStopEvent : public CPictureEx {
public:
    PictureWithoutStopEvent() : CPictureEx(nullptr) {}
};
}  // namespace

TEST_F(PictureControl, WithoutStopEventTheFirstFrameIsShownOnce)
{
    PictureWithoutStopEvent picture;
    HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_BLACKFRAME, 0, 0, 10, 10, m_parent, nullptr,
                                   nullptr, nullptr);
    ASSERT_TRUE(picture.Attach(child));
    const std::wstring path = m_dir / L"two.gif";
    ASSERT_TRUE(testing_support::WriteBytes(path, TwoFrames(4, 10)));
    ASSERT_EQ(picture.LoadFile(path), 1);
    EXPECT_EQ(picture.StartAnimation(), 1);
    EXPECT_EQ(picture.AnimationThread(), nullptr);
    EXPECT_EQ(picture.SurfacePixel(1, 1), kRed);
    picture.StopAnimation();
}

namespace {
class PictureWithLock : public CPictureEx {
public:
    using CPictureEx::SurfaceLock;
};

struct LockHolder {
    CRITICAL_SECTION* lock;
    HANDLE locked;
    volatile LONG released;
};

DWORD WINAPI HoldLockSevenSeconds(void* param)
{
    auto* holder = static_cast<LockHolder*>(param);
    ::EnterCriticalSection(holder->lock);
    ::SetEvent(holder->locked);
    ::Sleep(7000);
    ::InterlockedExchange(&holder->released, 1);
    ::LeaveCriticalSection(holder->lock);
    return 0;
}
}  // namespace

TEST_F(PictureControl, StopWaitsPastFiveSecondsForAThreadStuckInADraw)
{
    PictureWithLock picture;
    HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_BLACKFRAME, 0, 0, 10, 10, m_parent, nullptr,
                                   nullptr, nullptr);
    ASSERT_TRUE(picture.Attach(child));
    const std::wstring path = m_dir / L"fast.gif";
    ASSERT_TRUE(testing_support::WriteBytes(path, TwoFrames(4, 5)));
    ASSERT_EQ(picture.LoadFile(path), 1);
    picture.StartAnimation();
    ASSERT_TRUE(picture.AnimationThread() != nullptr);

    // Another thread holds the surface for 7 s; the animation thread, 50 ms into its hold,
    // soon blocks on it in the middle of a step.
    LockHolder holder{&picture.SurfaceLock(), ::CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
    HANDLE helper = ::CreateThread(nullptr, 0, HoldLockSevenSeconds, &holder, 0, nullptr);
    ASSERT_NE(helper, nullptr);
    ASSERT_EQ(::WaitForSingleObject(holder.locked, 10000), WAIT_OBJECT_0);
    ::Sleep(1000);

    // The stop must outlast its 5 s wait rather than free the frames under the thread.
    picture.StopAnimation();
    EXPECT_EQ(holder.released, 1);
    EXPECT_EQ(picture.AnimationThread(), nullptr);
    EXPECT_EQ(picture.FrameCount(), 0u);
    ::WaitForSingleObject(helper, INFINITE);
    ::CloseHandle(helper);
    ::CloseHandle(holder.locked);
}

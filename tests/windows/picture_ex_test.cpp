#include "picture/picture_ex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gif_builder.h"
#include "picture_ex_test_access.h"
#include "test_support.h"

namespace gb = gifbuild;
using testing_support::ScratchDir;
using P = picture::PictureTestAccess;

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
        m_parent = ::CreateWindowExW(0, L"STATIC", L"picture test", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                                     200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_parent, nullptr);
        m_static = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, 10,
                                     12, 100, 50, m_parent, nullptr, nullptr, nullptr);
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

    // Polls until `done` holds; false after a generous wait.
    template <class Done>
    static bool WaitFor(Done done, DWORD seconds = 10)
    {
        for (DWORD i = 0; i < seconds * 100; ++i) {
            if (done()) return true;
            ::Sleep(10);
        }
        return false;
    }

    bool WaitForPixel(int x, int y, COLORREF color, picture::CPictureEx* picture = nullptr)
    {
        picture::CPictureEx& p = picture ? *picture : m_picture;
        return WaitFor([&] { return P::SurfacePixel(p, x, y) == color; });
    }

    ScratchDir m_dir;
    HWND m_parent = nullptr;
    HWND m_static = nullptr;
    picture::CPictureEx m_picture;
    COLORREF m_savedColors[2] = {};
};

std::string TwoFrames(unsigned size, unsigned delayCs)
{
    return gb::Screen(size, size) + gb::GraphicControl(0, delayCs) +
           gb::SolidImage(0, 0, size, size, gb::kRed) + gb::GraphicControl(0, delayCs) +
           gb::SolidImage(0, 0, size, size, gb::kGreen) + gb::Trailer();
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
    EXPECT_FALSE(P::HasStillPicture(m_picture));
    EXPECT_EQ(m_picture.StartAnimation(), 0);
    ASSERT_TRUE(WaitFor([&] { return P::FramesSplit(m_picture); }));
    EXPECT_EQ(P::FrameCount(m_picture), 2u);

    const struct {
        const char* name;
        std::string bytes;
        const wchar_t* file;
        int width, height, gif;
        COLORREF color;
    } cases[] = {
        {"still GIF",
         gb::Screen(20, 10) + gb::GraphicControl(0, 10) + gb::SolidImage(0, 0, 20, 10, gb::kRed) +
             gb::Trailer(),
         L"still.gif", 20, 10, 1, kRed},
        {"two frames cut inside the second",
         TwoFrames(12, 10).substr(0, TwoFrames(12, 10).size() - 20), L"cut.gif", 12, 12, 1, kRed},
        {"BMP", SolidBmp(24, 16, kGreen), L"picture.bmp", 24, 16, 0, kGreen},
        {"JPEG", testing_support::ReadBytes(testing_support::FixturePath(L"picture_48x40.jpg")),
         L"picture.jpg", 48, 40, 0, kBlue},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.bytes.empty()) << c.name;
        ASSERT_EQ(Load(c.bytes, c.file), 1) << c.name;
        EXPECT_EQ(P::IsGifStream(m_picture), c.gif) << c.name;
        EXPECT_EQ(P::Width(m_picture), c.width) << c.name;
        EXPECT_EQ(P::Height(m_picture), c.height) << c.name;
        EXPECT_EQ(ControlSize().cx, c.width) << c.name;
        EXPECT_EQ(ControlSize().cy, c.height) << c.name;
        // Prepared with the menu colour.
        EXPECT_EQ(P::SurfacePixel(m_picture, c.width / 2, c.height / 2), kMenu) << c.name;
        if (c.gif) {
            // A GIF of one image is a one-frame animation: its thread decodes it, draws it
            // once and ends.
            EXPECT_FALSE(P::HasStillPicture(m_picture)) << c.name;
            EXPECT_EQ(m_picture.StartAnimation(), 0) << c.name;
            EXPECT_TRUE(WaitForPixel(c.width / 2, c.height / 2, c.color)) << c.name;
            EXPECT_TRUE(WaitFor([&] { return P::ThreadEnded(m_picture); })) << c.name;
            EXPECT_EQ(P::FrameCount(m_picture), 1u) << c.name;
            continue;
        }
        // Anything else is decoded at load and drawn once, without a thread.
        EXPECT_TRUE(P::HasStillPicture(m_picture)) << c.name;
        EXPECT_EQ(P::FrameCount(m_picture), 0u) << c.name;
        EXPECT_EQ(m_picture.StartAnimation(), 1) << c.name;
        EXPECT_EQ(P::AnimationThread(m_picture), nullptr) << c.name;
        const COLORREF drawn = P::SurfacePixel(m_picture, c.width / 2, c.height / 2);
        // JPEG is lossy: allow a little drift from pure blue.
        EXPECT_NEAR(GetRValue(drawn), GetRValue(c.color), 8) << c.name;
        EXPECT_NEAR(GetGValue(drawn), GetGValue(c.color), 8) << c.name;
        EXPECT_NEAR(GetBValue(drawn), GetBValue(c.color), 8) << c.name;
    }
    // The size stays after the control is emptied.
    m_picture.StopAnimation();
    EXPECT_EQ(P::Width(m_picture), 48);
    EXPECT_EQ(P::SurfacePixel(m_picture, 0, 0), CLR_INVALID);
}

TEST_F(PictureControl, FramesAreDrawnHeldAndDisposed)
{
    // 8x8 screen: red all over (kept), green 4x4 at (2,2) (cleared), blue 2x2 at (0,0)
    // (restored), white 2x2 at (5,5) without control extension (kept).
    const std::string file = gb::Screen(8, 8) + gb::LoopingApplication() +
                             gb::GraphicControl(1, 10) + gb::SolidImage(0, 0, 8, 8, gb::kRed) +
                             gb::GraphicControl(2, 5) + gb::SolidImage(2, 2, 4, 4, gb::kGreen) +
                             gb::GraphicControl(3, 0) + gb::SolidImage(0, 0, 2, 2, gb::kBlue) +
                             gb::SolidImage(5, 5, 2, 2, gb::kWhite) + gb::Trailer();
    ASSERT_EQ(Load(file), 1);
    P::SplitFile(m_picture);
    ASSERT_EQ(P::FrameCount(m_picture), 4u);

    P::BeginFrames(m_picture);
    EXPECT_EQ(P::SurfacePixel(m_picture, 0, 0), kMenu);
    EXPECT_EQ(P::DrawFrame(m_picture), 100u);
    EXPECT_EQ(P::SurfacePixel(m_picture, 0, 0), kRed);
    EXPECT_EQ(P::SurfacePixel(m_picture, 7, 7), kRed);
    P::DisposeFrame(m_picture);  // method 1: stays
    EXPECT_EQ(P::SurfacePixel(m_picture, 3, 3), kRed);

    EXPECT_EQ(P::DrawFrame(m_picture), 50u);
    EXPECT_EQ(P::SurfacePixel(m_picture, 2, 2), kGreen);
    EXPECT_EQ(P::SurfacePixel(m_picture, 5, 5), kGreen);
    EXPECT_EQ(P::SurfacePixel(m_picture, 6, 6), kRed);
    P::DisposeFrame(m_picture);  // method 2: the rectangle is cleared with the button face
    EXPECT_EQ(P::SurfacePixel(m_picture, 2, 2), kButtonFace);
    EXPECT_EQ(P::SurfacePixel(m_picture, 5, 5), kButtonFace);
    EXPECT_EQ(P::SurfacePixel(m_picture, 6, 6), kRed);
    EXPECT_EQ(P::SurfacePixel(m_picture, 1, 1), kRed);

    EXPECT_EQ(P::DrawFrame(m_picture), 100u);
    EXPECT_EQ(P::SurfacePixel(m_picture, 0, 0), kBlue);
    EXPECT_EQ(P::SurfacePixel(m_picture, 1, 1), kBlue);
    P::DisposeFrame(m_picture);  // method 3: what lay under comes back
    EXPECT_EQ(P::SurfacePixel(m_picture, 0, 0), kRed);
    EXPECT_EQ(P::SurfacePixel(m_picture, 1, 1), kRed);
    EXPECT_EQ(P::SurfacePixel(m_picture, 2, 2), kButtonFace);

    EXPECT_EQ(P::DrawFrame(m_picture), 100u);  // no control extension: held like delay 0
    EXPECT_EQ(P::SurfacePixel(m_picture, 5, 5), kWhite);
    EXPECT_EQ(P::FrameIndex(m_picture), 3u);
    P::DisposeFrame(m_picture);  // after the last frame the whole surface is cleared
    EXPECT_EQ(P::FrameIndex(m_picture), 0u);
    for (int xy = 0; xy < 8; ++xy) EXPECT_EQ(P::SurfacePixel(m_picture, xy, xy), kButtonFace) << xy;

    EXPECT_EQ(P::DrawFrame(m_picture), 100u);
    EXPECT_EQ(P::SurfacePixel(m_picture, 4, 4), kRed);
}

TEST_F(PictureControl, FirstFrameThatClearsIsClearedBeforeItIsDrawn)
{
    const std::string file = gb::Screen(8, 8) + gb::GraphicControl(2, 10) +
                             gb::SolidImage(2, 2, 2, 2, gb::kRed) + gb::GraphicControl(0, 10) +
                             gb::SolidImage(0, 0, 8, 8, gb::kGreen) + gb::Trailer();
    ASSERT_EQ(Load(file), 1);
    P::SplitFile(m_picture);
    P::BeginFrames(m_picture);
    EXPECT_EQ(P::SurfacePixel(m_picture, 2, 2), kButtonFace);
    EXPECT_EQ(P::SurfacePixel(m_picture, 3, 3), kButtonFace);
    EXPECT_EQ(P::SurfacePixel(m_picture, 4, 4), kMenu);
}

TEST_F(PictureControl, HoldOfEachDelay)
{
    const struct {
        int delayCs;  // -1: no control extension
        DWORD holdMs;
    } cases[] = {{0, 100}, {1, 100},  {2, 100},        {3, 100}, {4, 100},
                 {5, 50},  {10, 100}, {65535, 655350}, {-1, 100}};
    std::string file = gb::Screen(2, 2);
    for (const auto& c : cases) {
        if (c.delayCs >= 0) file += gb::GraphicControl(0, static_cast<unsigned>(c.delayCs));
        file += gb::SolidImage(0, 0, 2, 2, gb::kRed);
    }
    ASSERT_EQ(Load(file + gb::Trailer()), 1);
    P::SplitFile(m_picture);
    ASSERT_EQ(P::FrameCount(m_picture), sizeof cases / sizeof cases[0]);
    for (const auto& c : cases) {
        EXPECT_EQ(P::DrawFrame(m_picture), c.holdMs) << c.delayCs;
        P::DisposeFrame(m_picture);
    }
}

TEST_F(PictureControl, ThreadAnimatesAndStopsAtOnceDuringALongHold)
{
    ASSERT_EQ(Load(TwoFrames(4, 5)), 1);
    EXPECT_EQ(m_picture.StartAnimation(), 0);
    ASSERT_NE(P::AnimationThread(m_picture), nullptr);
    EXPECT_TRUE(WaitForPixel(1, 1, kGreen));
    EXPECT_TRUE(WaitForPixel(1, 1, kRed));
    m_picture.StopAnimation();
    EXPECT_EQ(P::AnimationThread(m_picture), nullptr);

    // 655.35 s per frame: the stop must cut the hold short.
    ASSERT_EQ(Load(TwoFrames(4, 65535)), 1);
    m_picture.StartAnimation();
    ASSERT_TRUE(WaitForPixel(1, 1, kRed));
    const ULONGLONG start = ::GetTickCount64();
    m_picture.StopAnimation();
    EXPECT_LT(::GetTickCount64() - start, 4000u);
    EXPECT_EQ(P::AnimationThread(m_picture), nullptr);
    EXPECT_EQ(P::FrameCount(m_picture), 0u);
}

TEST_F(PictureControl, PaintCopiesTheSurfaceToTheScreen)
{
    ::ShowWindow(m_parent, SW_SHOW);
    ASSERT_EQ(Load(gb::Screen(16, 16) + gb::SolidImage(0, 0, 16, 16, gb::kBlue) + gb::Trailer()),
              1);
    m_picture.StartAnimation();
    ASSERT_TRUE(WaitForPixel(8, 8, kBlue));
    ::UpdateWindow(m_static);
    HDC dc = ::GetDC(m_static);
    const COLORREF shown = ::GetPixel(dc, 8, 8);
    ::ReleaseDC(m_static, dc);
    EXPECT_EQ(shown, kBlue);
}

TEST_F(PictureControl, FramesTheDecoderRejectsAreDropped)
{
    // An image that asks for an LZW code size no decoder accepts; the walk still passes it.
    std::string broken = gb::SolidImage(0, 0, 4, 4, gb::kGreen);
    broken[10] = 0x0F;
    const std::string red = gb::GraphicControl(0, 5) + gb::SolidImage(0, 0, 4, 4, gb::kRed);
    const std::string blue = gb::GraphicControl(0, 5) + gb::SolidImage(0, 0, 4, 4, gb::kBlue);
    const std::string bad = gb::GraphicControl(0, 5) + broken;
    const struct {
        const char* name;
        std::string frames;
        std::size_t count;
        std::uint32_t decoded;
        COLORREF shown;  // with a second colour, the animation goes on between the two
        COLORREF other;
    } cases[] = {
        // Only found out as it comes round: the one frame that decodes stays, as a still.
        {"one of two decodes", red + bad, 2, 1, kRed, CLR_INVALID},
        {"the only image", bad, 1, 0, kMenu, CLR_INVALID},
        {"none of two", bad + bad, 2, 0, kMenu, CLR_INVALID},
        {"two of three", red + bad + blue, 3, 2, kRed, kBlue},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Load(gb::Screen(4, 4) + c.frames + gb::Trailer()), 1) << c.name;
        EXPECT_EQ(m_picture.StartAnimation(), 0) << c.name;
        ASSERT_TRUE(WaitFor([&] { return P::FramesSplit(m_picture); })) << c.name;
        EXPECT_EQ(P::FrameCount(m_picture), c.count) << c.name;
        if (c.other != CLR_INVALID) {
            EXPECT_TRUE(WaitForPixel(1, 1, c.other)) << c.name;
            EXPECT_TRUE(WaitForPixel(1, 1, c.shown)) << c.name;
            EXPECT_FALSE(P::ThreadEnded(m_picture)) << c.name;
        } else {
            EXPECT_TRUE(WaitFor([&] { return P::ThreadEnded(m_picture); })) << c.name;
            EXPECT_EQ(P::SurfacePixel(m_picture, 1, 1), c.shown) << c.name;
        }
        EXPECT_EQ(P::DecodedFrames(m_picture), c.decoded) << c.name;
        m_picture.StopAnimation();
    }
}

TEST_F(PictureControl, FailedLoadsAndWhatTheyLeave)
{
    ASSERT_EQ(Load(TwoFrames(4, 10)), 1);
    m_picture.StartAnimation();
    ASSERT_NE(P::AnimationThread(m_picture), nullptr);
    ASSERT_TRUE(WaitFor([&] { return P::FramesSplit(m_picture); }));

    // A path that cannot be opened leaves the animation running.
    EXPECT_EQ(m_picture.LoadFile(m_dir / L"missing.gif"), 0);
    EXPECT_NE(P::AnimationThread(m_picture), nullptr);
    EXPECT_EQ(P::FrameCount(m_picture), 2u);
    EXPECT_EQ(Load("", L"empty.gif"), 0);
    EXPECT_EQ(P::FrameCount(m_picture), 2u);

    // A file that was read replaces everything, even when it does not parse or decode.
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"not a picture", "this is no picture at all"},
        {"not a picture, named GIF", "GIF90a is no GIF version"},
        {"GIF cut inside its screen", gb::Screen(4, 4).substr(0, 12)},
        {"GIF cut inside its colour table", gb::Screen(4, 4).substr(0, 14)},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Load(TwoFrames(4, 10)), 1) << c.name;
        m_picture.StartAnimation();
        EXPECT_EQ(Load(c.bytes, L"second.gif"), 0) << c.name;
        EXPECT_EQ(P::AnimationThread(m_picture), nullptr) << c.name;
        EXPECT_EQ(P::FrameCount(m_picture), 0u) << c.name;
        EXPECT_FALSE(P::HasStillPicture(m_picture)) << c.name;
        EXPECT_EQ(P::SurfacePixel(m_picture, 0, 0), CLR_INVALID) << c.name;
        EXPECT_EQ(m_picture.StartAnimation(), 0) << c.name;
    }

    // A GIF broken past its head is only found out by the thread: it sized the control and
    // shows nothing, the surface as prepared.
    const struct {
        const char* name;
        std::string bytes;
    } broken[] = {
        {"trailer first", gb::Screen(4, 4) + gb::Trailer()},
        {"cut inside the first frame", TwoFrames(4, 10).substr(0, 40)},
    };
    for (const auto& c : broken) {
        ASSERT_EQ(Load(TwoFrames(4, 10)), 1) << c.name;
        m_picture.StartAnimation();
        EXPECT_EQ(Load(c.bytes, L"second.gif"), 1) << c.name;
        EXPECT_EQ(m_picture.StartAnimation(), 0) << c.name;
        EXPECT_TRUE(WaitFor([&] { return P::ThreadEnded(m_picture); })) << c.name;
        EXPECT_EQ(P::FrameCount(m_picture), 0u) << c.name;
        EXPECT_EQ(P::FramesDrawn(m_picture), 0u) << c.name;
        EXPECT_EQ(P::SurfacePixel(m_picture, 1, 1), kMenu) << c.name;
    }
}

TEST_F(PictureControl, StoppingIsHarmlessAtAnyTime)
{
    picture::CPictureEx empty;
    empty.StopAnimation();
    empty.StopAnimation();
    EXPECT_EQ(empty.StartAnimation(), 0);

    ASSERT_EQ(Load(TwoFrames(4, 65535)), 1);
    m_picture.StartAnimation();
    ASSERT_TRUE(WaitForPixel(1, 1, kRed));
    // Destroying the window stops the thread; frames stay until StopAnimation.
    ::DestroyWindow(m_parent);
    EXPECT_EQ(P::AnimationThread(m_picture), nullptr);
    EXPECT_EQ(P::FrameCount(m_picture), 2u);
    m_picture.StopAnimation();
    m_picture.StopAnimation();
    EXPECT_EQ(P::FrameCount(m_picture), 0u);
    EXPECT_EQ(Load(TwoFrames(4, 10)), 0);  // no window to size or draw for
}

TEST_F(PictureControl, WithoutStopEventTheFirstFrameIsShownOnce)
{
    const auto picture = P::WithoutStopEvent();
    HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_BLACKFRAME, 0, 0, 10, 10,
                                   m_parent, nullptr, nullptr, nullptr);
    ASSERT_TRUE(picture->Attach(child));
    const std::wstring path = m_dir / L"two.gif";
    ASSERT_TRUE(testing_support::WriteBytes(path, TwoFrames(4, 10)));
    ASSERT_EQ(picture->LoadFile(path), 1);
    EXPECT_EQ(picture->StartAnimation(), 0);
    // No hold could be cut short: the thread draws the first frame and ends.
    EXPECT_TRUE(WaitFor([&] { return P::ThreadEnded(*picture); }));
    EXPECT_EQ(P::SurfacePixel(*picture, 1, 1), kRed);
    EXPECT_EQ(P::FramesDrawn(*picture), 1u);
    picture->StopAnimation();
}

namespace {
struct LockHolder {
    win::Lock* lock;
    HANDLE locked;
    volatile LONG released;
};

DWORD WINAPI HoldLockSevenSeconds(void* param)
{
    auto* holder = static_cast<LockHolder*>(param);
    holder->lock->Enter();
    ::SetEvent(holder->locked);
    ::Sleep(7000);
    ::InterlockedExchange(&holder->released, 1);
    holder->lock->Leave();
    return 0;
}
}  // namespace

TEST_F(PictureControl, StopWaitsPastFiveSecondsForAThreadStuckInADraw)
{
    picture::CPictureEx picture;
    HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_BLACKFRAME, 0, 0, 10, 10,
                                   m_parent, nullptr, nullptr, nullptr);
    ASSERT_TRUE(picture.Attach(child));
    const std::wstring path = m_dir / L"fast.gif";
    ASSERT_TRUE(testing_support::WriteBytes(path, TwoFrames(4, 5)));
    ASSERT_EQ(picture.LoadFile(path), 1);
    picture.StartAnimation();
    ASSERT_TRUE(P::AnimationThread(picture) != nullptr);

    // Another thread holds the surface for 7 s; the animation thread, 50 ms into its hold,
    // soon blocks on it in the middle of a step.
    LockHolder holder{&P::SurfaceLock(picture), ::CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
    HANDLE helper = ::CreateThread(nullptr, 0, HoldLockSevenSeconds, &holder, 0, nullptr);
    ASSERT_NE(helper, nullptr);
    ASSERT_EQ(::WaitForSingleObject(holder.locked, 10000), WAIT_OBJECT_0);
    ::Sleep(1000);

    // The stop must outlast its 5 s wait rather than free the frames under the thread.
    picture.StopAnimation();
    EXPECT_EQ(holder.released, 1);
    EXPECT_EQ(P::AnimationThread(picture), nullptr);
    EXPECT_EQ(P::FrameCount(picture), 0u);
    ::WaitForSingleObject(helper, INFINITE);
    ::CloseHandle(helper);
    ::CloseHandle(holder.locked);
}

namespace {
// Several megabytes that take the decoder long: what once froze the dialog while it loaded.
const std::string& NoiseGif()
{
    static const std::string file = gb::NoiseAnimation(640, 480, 40, 2);
    return file;
}
}  // namespace

TEST_F(PictureControl, LargeAnimationDecodesOnItsThreadWithinItsBudget)
{
    ASSERT_GT(NoiseGif().size(), 5u << 20);
    // Room for a few frames only, so that the first cycle must drop frames and later cycles
    // decode them again.
    const std::size_t budget = 4u << 20;
    P::SetBudget(m_picture, budget);
    ASSERT_EQ(Load(NoiseGif(), L"noise.gif"), 1);
    EXPECT_EQ(P::Decodes(m_picture), 0u);
    EXPECT_EQ(P::HeldFrames(m_picture), 0u);
    EXPECT_EQ(m_picture.StartAnimation(), 0);
    EXPECT_LT(P::DecodedFrames(m_picture), 40u);

    // The first cycle animates: every frame is drawn as it is decoded.
    EXPECT_TRUE(WaitFor([&] { return P::FramesDrawn(m_picture) >= 40; }, 300));
    EXPECT_EQ(P::DecodedFrames(m_picture), 40u);
    EXPECT_LE(P::HeldBytes(m_picture), budget);
    EXPECT_GT(P::HeldFrames(m_picture), 0u);
    EXPECT_LT(P::HeldFrames(m_picture), 40u);
    // Frames past the budget are decoded again when they come round; the kept ones are not.
    EXPECT_TRUE(WaitFor([&] { return P::Decodes(m_picture) > 40; }, 60));
    EXPECT_LE(P::HeldBytes(m_picture), budget);
    m_picture.StopAnimation();
    EXPECT_EQ(P::HeldFrames(m_picture), 0u);
}

TEST_F(PictureControl, LoadingALargeAnimationReadsOnlyItsHead)
{
    ASSERT_EQ(Load(NoiseGif(), L"noise.gif"), 1);
    // Sized from the head alone: no frame split, the file held for the thread.
    EXPECT_EQ(P::Width(m_picture), 640);
    EXPECT_EQ(P::Height(m_picture), 480);
    EXPECT_EQ(ControlSize().cx, 640);
    EXPECT_FALSE(P::FramesSplit(m_picture));
    EXPECT_EQ(P::FrameCount(m_picture), 0u);
    EXPECT_TRUE(P::HoldsGifFile(m_picture));
    EXPECT_EQ(P::SurfacePixel(m_picture, 320, 240), kMenu);

    // The thread reads and splits it, then animates.
    EXPECT_EQ(m_picture.StartAnimation(), 0);
    ASSERT_TRUE(WaitFor([&] { return P::FramesSplit(m_picture); }, 60));
    EXPECT_EQ(P::FrameCount(m_picture), 40u);
    EXPECT_TRUE(WaitFor([&] { return P::FramesDrawn(m_picture) >= 2; }, 60));
    m_picture.StopAnimation();
    EXPECT_FALSE(P::HoldsGifFile(m_picture));
    EXPECT_EQ(P::FrameCount(m_picture), 0u);
}

TEST_F(PictureControl, StopDuringADecodeLeavesNothingThatPaintsLater)
{
    ASSERT_EQ(Load(NoiseGif(), L"noise.gif"), 1);
    m_picture.StartAnimation();
    ASSERT_TRUE(WaitFor([] { return picture::DecodeJob::InFlight() > 0; }));
    m_picture.StopAnimation();
    EXPECT_EQ(P::AnimationThread(m_picture), nullptr);
    EXPECT_EQ(P::FrameCount(m_picture), 0u);
    EXPECT_EQ(P::SurfacePixel(m_picture, 0, 0), CLR_INVALID);

    // The next picture, the same size, shows; the abandoned decode ends and draws nothing.
    ASSERT_EQ(
        Load(gb::Screen(640, 480) + gb::SolidImage(0, 0, 640, 480, gb::kBlue) + gb::Trailer()), 1);
    m_picture.StartAnimation();
    ASSERT_TRUE(WaitForPixel(320, 240, kBlue));
    EXPECT_TRUE(WaitFor([] { return picture::DecodeJob::InFlight() == 0; }, 60));
    EXPECT_TRUE(WaitFor([&] { return P::ThreadEnded(m_picture); }));
    EXPECT_EQ(P::FramesDrawn(m_picture), 1u);
    for (int y = 0; y < 480; y += 37)
        for (int x = 0; x < 640; x += 53)
            EXPECT_EQ(P::SurfacePixel(m_picture, x, y), kBlue) << x << "," << y;
}

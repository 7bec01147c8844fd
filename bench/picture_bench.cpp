// Under Wine: how long the calling (dialog) thread spends in LoadFile + StartAnimation, for
// the large noise animation and the small files the tests use; the peak private bytes while
// the 40-frame noise animation plays; and the processor time of the animation thread.
//   picture_bench.exe [file.gif]   (a file of your own is timed and animated as well)
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../tests/support/picture_ex_test_access.h"
#include "gif_bench_file.h"
#include "picture/picture_ex.h"

namespace {

namespace gb = gifbuild;
using P = picture::PictureTestAccess;

double NowMs()
{
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double CpuMs(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    auto ticks = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

double PrivateMb()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    // Wine 8 leaves PrivateUsage at 0 and reports the private commit as the page file usage.
    const SIZE_T bytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// Serves the window's messages (painting included) for `ms` milliseconds, calling `sample`
// between them; returns the longest time one message took.
template <class Sample>
double PumpFor(DWORD ms, Sample sample)
{
    double longest = 0;
    const ULONGLONG end = ::GetTickCount64() + ms;
    for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
        ::MsgWaitForMultipleObjects(
            0, nullptr, FALSE, std::min<DWORD>(50, static_cast<DWORD>(end - now)), QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            const double start = NowMs();
            ::DispatchMessageW(&msg);
            longest = std::max(longest, NowMs() - start);
        }
        sample();
    }
    return longest;
}

void Write(const std::wstring& path, const std::string& bytes)
{
    HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(out);
}

struct File {
    const char* name;
    std::wstring path;
    std::size_t bytes;
};

// The longest of five LoadFile + StartAnimation calls, each while the previous load still
// decodes or animates (so the stop inside LoadFile is counted), and the longest from empty.
void TimeLoads(picture::CPictureEx& picture, const File& file)
{
    double fromRunning = 0, fromEmpty = 0;
    for (int i = 0; i < 5; ++i) {
        double start = NowMs();
        picture.LoadFile(file.path);
        picture.StartAnimation();
        fromRunning = std::max(fromRunning, NowMs() - start);
        ::Sleep(30);  // the thread is then deep in a decode or a hold
        picture.StopAnimation();
        start = NowMs();
        picture.LoadFile(file.path);
        picture.StartAnimation();
        fromEmpty = std::max(fromEmpty, NowMs() - start);
        ::Sleep(30);
    }
    // Of which reading the file alone, for comparison.
    double readMs = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double start = NowMs();
        HANDLE in = ::CreateFileW(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        std::vector<char> bytes(file.bytes);
        DWORD read = 0;
        ::ReadFile(in, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
        ::CloseHandle(in);
        readMs = std::min(readMs, NowMs() - start);
    }
    // The animation thread splits the file: its frames are counted once it has.
    for (int waited = 0; waited < 30000 && !P::FramesSplit(picture); waited += 10) ::Sleep(10);
    std::printf(
        "  %-22s %8lu bytes, %3u frames: longest %6.1f ms from empty, %6.1f ms over a running "
        "load; reading the file alone %.2f ms\n",
        file.name, static_cast<unsigned long>(file.bytes),
        static_cast<unsigned>(P::FrameCount(picture)), fromEmpty, fromRunning, readMs);
    picture.StopAnimation();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::string noise = gb::NoiseAnimation(640, 480, 40, 2);
    const std::string disposals = gb::Screen(8, 8) + gb::LoopingApplication() +
                                  gb::GraphicControl(1, 10) + gb::SolidImage(0, 0, 8, 8, gb::kRed) +
                                  gb::GraphicControl(2, 5) +
                                  gb::SolidImage(2, 2, 4, 4, gb::kGreen) +
                                  gb::GraphicControl(3, 0) + gb::SolidImage(0, 0, 2, 2, gb::kBlue) +
                                  gb::SolidImage(5, 5, 2, 2, gb::kWhite) + gb::Trailer();
    const std::string two = gb::Screen(32, 32) + gb::GraphicControl(0, 10) +
                            gb::SolidImage(0, 0, 32, 32, gb::kRed) + gb::GraphicControl(0, 10) +
                            gb::SolidImage(0, 0, 32, 32, gb::kGreen) + gb::Trailer();
    const std::string still =
        gb::Screen(640, 480) + gb::SolidImage(0, 0, 640, 480, gb::kBlue) + gb::Trailer();
    const std::string stripes = gifbench::LargeAnimation();
    std::vector<File> files;
    std::vector<std::wstring> made;
    auto add = [&](const char* name, const wchar_t* file, const std::string& bytes) {
        const std::wstring path = std::wstring(temp) + file;
        Write(path, bytes);
        made.push_back(path);
        files.push_back(File{name, path, bytes.size()});
    };
    add("noise 640x480 x40", L"morvane_bench_noise.gif", noise);
    add("two frames 32x32", L"morvane_bench_two.gif", two);
    add("four disposals 8x8", L"morvane_bench_disposals.gif", disposals);
    add("one image 640x480", L"morvane_bench_still.gif", still);
    add("stripes 200x150 x400", L"morvane_bench_stripes.gif", stripes);
    if (argc > 1) {
        WIN32_FILE_ATTRIBUTE_DATA info{};
        ::GetFileAttributesExW(argv[1], GetFileExInfoStandard, &info);
        files.push_back(File{"given file", argv[1], info.nFileSizeLow});
    }

    HWND parent =
        ::CreateWindowExW(0, L"STATIC", L"picture bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                          700, 540, nullptr, nullptr, nullptr, nullptr);
    HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, 10, 10,
                                   50, 50, parent, nullptr, nullptr, nullptr);
    picture::CPictureEx picture;
    picture.Attach(child);

    std::printf("== time the calling thread spends in LoadFile + StartAnimation (goal < 100 ms)\n");
    for (const File& file : files) TimeLoads(picture, file);

    std::printf("== the noise animation playing for one whole cycle and 10 s more\n");
    const double before = PrivateMb();
    double peak = before;
    std::size_t heldPeak = 0;
    picture.LoadFile(files[0].path);
    picture.StartAnimation();
    const double cycleStart = NowMs();
    auto sample = [&] {
        peak = std::max(peak, PrivateMb());
        heldPeak = std::max(heldPeak, P::HeldBytes(picture));
    };
    double longestMessage = 0;
    while (P::FramesDrawn(picture) < 40 && NowMs() - cycleStart < 600000)
        longestMessage = std::max(longestMessage, PumpFor(200, sample));
    const double cycleMs = NowMs() - cycleStart;
    longestMessage = std::max(longestMessage, PumpFor(10000, sample));
    std::printf("  first cycle (40 frames decoded and drawn): %.0f ms; %u decodes by the end\n",
                cycleMs, P::Decodes(picture));
    std::printf(
        "  private bytes: %.1f MB before, peak %.1f MB while animating (+%.1f MB; file %.1f MB)\n",
        before, peak, peak - before, static_cast<double>(noise.size()) / (1024.0 * 1024.0));
    std::printf("  decoded frames kept: peak %.1f MB in %u frames, budget %.1f MB\n",
                static_cast<double>(heldPeak) / (1024.0 * 1024.0),
                static_cast<unsigned>(P::HeldFrames(picture)),
                static_cast<double>(P::Budget(picture)) / (1024.0 * 1024.0));
    std::printf("  longest message the window thread handled meanwhile: %.2f ms\n", longestMessage);
    const double stopStart = NowMs();
    picture.StopAnimation();
    std::printf("  StopAnimation: %.2f ms\n", NowMs() - stopStart);

    // 400 frames of 117 KB each pass the budget: the frames past it are decoded as they come.
    std::printf("== processor time over the first 10 s of the 400-frame stripes at 10 fps\n");
    picture.LoadFile(files[4].path);
    picture.StartAnimation();
    const double animationBefore = CpuMs(P::AnimationThread(picture));
    const double mainBefore = CpuMs(::GetCurrentThread());
    PumpFor(10000, [] {});
    const double animationMs = CpuMs(P::AnimationThread(picture)) - animationBefore;
    const double paintMs = CpuMs(::GetCurrentThread()) - mainBefore;
    std::printf(
        "  animation thread (decodes run on threads of their own): %.1f ms = %.2f %% of one "
        "core; %u frames drawn, %u kept decoded\n",
        animationMs, animationMs / 100.0, P::FramesDrawn(picture),
        static_cast<unsigned>(P::HeldFrames(picture)));
    std::printf("  window thread (painting): %.1f ms = %.2f %% of one core\n", paintMs,
                paintMs / 100.0);
    picture.StopAnimation();

    ::DestroyWindow(parent);
    for (const std::wstring& path : made) ::DeleteFileW(path.c_str());
    return 0;
}

// Under Wine: how long LoadFile takes on a large animation, and how much processor time the
// animation thread (and the window thread's painting) use over 10 s of a 10 fps animation.
//   picture_bench.exe [file.gif]   (without a file, the generated 400-frame animation)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "gif_bench_file.h"
#include "picture/picture_ex.h"

namespace {

double Ms(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double CpuMs(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

// Serves the window's messages (painting included) for `ms` milliseconds.
void PumpFor(DWORD ms)
{
    const ULONGLONG end = ::GetTickCount64() + ms;
    for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const bool generated = argc < 2;
    const std::wstring path = generated ? std::wstring(temp) + L"morvane_picture_bench.gif" : argv[1];
    if (generated) {
        const std::string bytes = gifbench::LargeAnimation();
        HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(out);
    }
    WIN32_FILE_ATTRIBUTE_DATA info{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info);

    HWND parent = ::CreateWindowExW(0, L"STATIC", L"picture bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                                    300, nullptr, nullptr, nullptr, nullptr);
    HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, 10, 10, 50, 50, parent,
                                   nullptr, nullptr, nullptr);
    CPictureEx picture;
    picture.Attach(child);

    std::vector<double> loads;
    for (int i = 0; i < 5; ++i) {
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        const int ok = picture.LoadFile(path);
        ::QueryPerformanceCounter(&end);
        if (!ok || picture.FrameCount() < 2 || (generated && picture.FrameCount() != gifbench::kFrames)) {
            std::printf("load failed (%d, %u frames)\n", ok, static_cast<unsigned>(picture.FrameCount()));
            return 1;
        }
        loads.push_back(Ms(start, end));
    }
    std::sort(loads.begin(), loads.end());
    const unsigned frames = static_cast<unsigned>(picture.FrameCount());
    std::printf("file: %lu bytes, %u frames of %dx%d\n", static_cast<unsigned long>(info.nFileSizeLow), frames,
                picture.PictureWidth(), picture.PictureHeight());
    std::printf("LoadFile: %.1f ms median of %u (min %.1f, max %.1f), %.3f ms a frame\n", loads[loads.size() / 2],
                static_cast<unsigned>(loads.size()), loads.front(), loads.back(),
                loads[loads.size() / 2] / frames);

    const double mainBefore = CpuMs(::GetCurrentThread());
    picture.StartAnimation();
    const DWORD seconds = 10;
    PumpFor(seconds * 1000);
    const double animationMs = CpuMs(picture.AnimationThread());
    const double paintMs = CpuMs(::GetCurrentThread()) - mainBefore;
    const unsigned shown = picture.FrameIndex();
    picture.StopAnimation();
    std::printf("animation thread over %lu s at 10 fps: %.1f ms of processor time = %.2f %% of one core "
                "(goal < 1 %%); frame index reached %u\n",
                static_cast<unsigned long>(seconds), animationMs, animationMs / (seconds * 10.0), shown);
    std::printf("window thread (painting) over the same time: %.1f ms = %.2f %% of one core\n", paintMs,
                paintMs / (seconds * 10.0));
    ::DestroyWindow(parent);
    if (generated) ::DeleteFileW(path.c_str());
    return 0;
}

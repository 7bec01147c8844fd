// System-service figures under Wine, printed as "name value" lines for bench/sys.sh:
//   sys_bench copy SRC WORK     CopyDirectoryTree (best of 3) of SRC into an empty and into a
//   half-full
//                               folder under WORK, against Wine's xcopy /E /I /D of the same
//   sys_bench verify FILE RUNS  VerifyPackage of FILE, best of RUNS
#include <windows.h>

#include <cstdio>
#include <string>

#include "sys/directory_tree.h"
#include "sys/trust.h"

namespace {

double Now()
{
    LARGE_INTEGER count, frequency;
    ::QueryPerformanceCounter(&count);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double RunCommand(std::wstring command)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    const double start = Now();
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started))
        return -1;
    ::WaitForSingleObject(started.hProcess, INFINITE);
    const double spent = Now() - start;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return spent;
}

// Half of the files of every folder, as a destination an earlier copy left half done.
void CopyHalf(const std::wstring& destination, const std::wstring& source)
{
    ::CreateDirectoryW(destination.c_str(), nullptr);
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((source + L"\\*.*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    int index = 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyHalf(destination + L"\\" + name, source + L"\\" + name);
        else if (index++ % 2 == 0)
            ::CopyFileW((source + L"\\" + name).c_str(), (destination + L"\\" + name).c_str(),
                        TRUE);
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
}

double TimeCopy(const std::wstring& destination, const std::wstring& source)
{
    ::CreateDirectoryW(destination.c_str(), nullptr);
    const double start = Now();
    const int result = sys::CopyDirectoryTree(destination, source);
    const double spent = Now() - start;
    return result ? spent : -1;
}

double TimeXcopy(const std::wstring& destination, const std::wstring& source)
{
    return RunCommand(L"xcopy /E /I /D /Q \"" + source + L"\" \"" + destination + L"\"");
}

double Best(double a, double b) { return a < 0 ? b : (b < a ? b : a); }

// Best of three rounds, each into fresh folders, so a busy machine shows less in the figures.
int Copy(const std::wstring& source, const std::wstring& work)
{
    // xcopy's own start, measured on an empty tree, is taken off its figures.
    ::CreateDirectoryW((work + L"\\emptysrc").c_str(), nullptr);
    double xcopyStart = -1, ours = -1, theirs = -1, oursHalf = -1, theirsHalf = -1;
    for (int round = 0; round < 3; ++round) {
        const std::wstring at = work + L"\\r" + std::to_wstring(round);
        ::CreateDirectoryW(at.c_str(), nullptr);
        xcopyStart = Best(xcopyStart, TimeXcopy(at + L"\\xstart", work + L"\\emptysrc"));
        const double o = TimeCopy(at + L"\\ours-empty", source);
        if (o < 0) return 1;
        ours = Best(ours, o);
        theirs = Best(theirs, TimeXcopy(at + L"\\xcopy-empty", source));
        CopyHalf(at + L"\\ours-half", source);
        CopyHalf(at + L"\\xcopy-half", source);
        const double oh = TimeCopy(at + L"\\ours-half", source);
        if (oh < 0) return 1;
        oursHalf = Best(oursHalf, oh);
        theirsHalf = Best(theirsHalf, TimeXcopy(at + L"\\xcopy-half", source));
    }
    theirs -= xcopyStart;
    theirsHalf -= xcopyStart;
    std::printf("xcopy_start_s %.3f\n", xcopyStart);
    std::printf("copy_empty_ours_s %.3f\ncopy_empty_xcopy_s %.3f\ncopy_empty_ratio %.2f\n", ours,
                theirs, ours / theirs);
    std::printf("copy_half_ours_s %.3f\ncopy_half_xcopy_s %.3f\ncopy_half_ratio %.2f\n", oursHalf,
                theirsHalf, oursHalf / theirsHalf);
    return 0;
}

int Verify(const std::wstring& file, int runs)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const double start = Now();
        const int result = sys::VerifyPackage(file);
        const double spent = Now() - start;
        if (result != 1) {
            std::printf("verify_failed 1\n");
            return 1;
        }
        if (spent < best) best = spent;
    }
    std::printf("verify_ours_s %.3f\n", best);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && std::wstring(argv[1]) == L"copy") return Copy(argv[2], argv[3]);
    if (argc == 4 && std::wstring(argv[1]) == L"verify") return Verify(argv[2], _wtoi(argv[3]));
    std::fprintf(stderr, "usage: sys_bench copy SRC WORK | verify FILE RUNS\n");
    return 2;
}

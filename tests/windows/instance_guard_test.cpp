// The single-instance guard against real processes: copies of this very test program.
#include "sys/instance_guard.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "test_support.h"
#include "win/handles.h"

namespace {

// Set by a lingering copy once it runs, so the parent waits for that and not for a guessed time.
std::wstring ReadyEventName(DWORD processId)
{
    return L"Local\\instance-guard-test-ready-" + std::to_wstring(processId);
}

// A copy of this program started with --linger only stays alive for the guard to find; one
// started with --guard-check asks the guard once and exits with its answer.
const bool kHelperMode = [] {
    if (std::wcsstr(::GetCommandLineW(), L"--linger")) {
        // Either side may create the event first; the handle stays open while we linger.
        const std::wstring name = ReadyEventName(::GetCurrentProcessId());
        HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        if (ready) ::SetEvent(ready);
        ::Sleep(60000);
        ::ExitProcess(0);
    }
    if (std::wcsstr(::GetCommandLineW(), L"--guard-check"))
        ::ExitProcess(static_cast<UINT>(sys::IsAnotherInstanceRunning()));
    return false;
}();

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

// Starts `program --linger` and gives it time to become visible in the process list.
win::Handle Start(const std::wstring& program, const wchar_t* mode)
{
    std::wstring commandLine = L"\"" + program + L"\" " + mode;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info))
        return win::Handle();
    ::CloseHandle(info.hThread);
    return win::Handle(info.hProcess);
}

// The guard's answer in a copy of this program started through `program`; -1 if it never ran.
int GuardAnswerIn(const std::wstring& program)
{
    win::Handle process = Start(program, L"--guard-check");
    DWORD code = 0;
    if (!process || ::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process.get(), &code))
        return -1;
    return static_cast<int>(code);
}

// Every running process with its image path in both forms, for the message of a failed expectation.
std::wstring DescribeProcesses()
{
    std::wstring text = L"own path: " + OwnPath() + L"\nprocesses:\n";
    win::Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        wchar_t image[1024] = L"?";
        wchar_t device[1024] = L"?";
        DWORD length = 1024;
        win::Handle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
        if (process) {
            ::QueryFullProcessImageNameW(process.get(), 0, image, &length);
            ::GetProcessImageFileNameW(process.get(), device, 1024);
        }
        text +=
            L"  " + std::to_wstring(entry.th32ProcessID) + L" " + image + L" | " + device + L"\n";
    }
    return text;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class Lingering {
public:
    explicit Lingering(const std::wstring& program) : m_process(Start(program, L"--linger"))
    {
        if (!m_process) return;
        win::Handle ready(::CreateEventW(nullptr, TRUE, FALSE,
                                         ReadyEventName(::GetProcessId(m_process.get())).c_str()));
        m_ready = ready && ::WaitForSingleObject(ready.get(), 60000) == WAIT_OBJECT_0;
    }
    ~Lingering()
    {
        if (m_process) {
            ::TerminateProcess(m_process.get(), 0);
            ::WaitForSingleObject(m_process.get(), 10000);
        }
    }
    // Started, reached its own code and has not ended since.
    bool running() const
    {
        return m_ready && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
    }

private:
    win::Handle m_process;
    bool m_ready = false;
};

TEST(InstanceGuard, AloneThereIsNoOtherInstance) { EXPECT_EQ(sys::IsAnotherInstanceRunning(), 0); }

TEST(InstanceGuard, FindsASecondCopyOfTheSameFile)
{
    Lingering copy(OwnPath());
    ASSERT_TRUE(copy.running());
    EXPECT_EQ(sys::IsAnotherInstanceRunning(), 1) << Narrow(DescribeProcesses());
}

TEST(InstanceGuard, IgnoresTheSameProgramInAnotherFolder)
{
    testing_support::ScratchDir elsewhere;
    const std::wstring copyPath = elsewhere / L"instance_guard_test.exe";
    ASSERT_TRUE(::CopyFileW(OwnPath().c_str(), copyPath.c_str(), TRUE));
    Lingering copy(copyPath);
    ASSERT_TRUE(copy.running());
    EXPECT_EQ(sys::IsAnotherInstanceRunning(), 0);
}

TEST(InstanceGuard, PathThatDiffersInCaseIsNotFound)
{
    // Wine reports another process's image with the name as it lies on disk, but our own path
    // as we were started. A copy started through an upper-cased name therefore compares a path
    // that differs from the running copy's only in case, and must not match it.
    Lingering running(OwnPath());
    ASSERT_TRUE(running.running());
    std::wstring path = OwnPath();
    const std::wstring upper =
        path.substr(0, path.find_last_of(L'\\') + 1) + L"INSTANCE_GUARD_TEST.EXE";
    EXPECT_EQ(GuardAnswerIn(path), 1) << "the same path is found\n" << Narrow(DescribeProcesses());
    EXPECT_EQ(GuardAnswerIn(upper), 0);
}

// Takes a drive's device name away for the life of the object, as a system does for a drive
// that has none: the device form of every path on it can then not be had.
class DriveWithoutDevice {
public:
    explicit DriveWithoutDevice(const wchar_t* drive) : m_drive(drive)
    {
        wchar_t target[1024] = {};
        if (::QueryDosDeviceW(drive, target, 1024) == 0) {
            m_ready = true;  // it has none already
            return;
        }
        m_target = target;
        m_removed = ::DefineDosDeviceW(
                        DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE,
                        drive, target) != FALSE;
        m_ready = m_removed;
    }
    ~DriveWithoutDevice()
    {
        if (m_removed) ::DefineDosDeviceW(DDD_RAW_TARGET_PATH, m_drive.c_str(), m_target.c_str());
    }
    bool ready() const { return m_ready; }

private:
    std::wstring m_drive;
    std::wstring m_target;
    bool m_removed = false;
    bool m_ready = false;
};

TEST(InstanceGuard, FindsACopyWhoseDeviceNameCannotBeHad)
{
    Lingering copy(OwnPath());
    ASSERT_TRUE(copy.running());
    const std::wstring drive = OwnPath().substr(0, 2);
    DriveWithoutDevice noDevice(drive.c_str());
    ASSERT_TRUE(noDevice.ready());
    wchar_t device[1024];
    ASSERT_EQ(::GetProcessImageFileNameW(::GetCurrentProcess(), device, 1024), 0u)
        << "the device form is still there";
    EXPECT_EQ(sys::IsAnotherInstanceRunning(), 1) << Narrow(DescribeProcesses());
}

}  // namespace

#include "test_support.h"

#include "win/security.h"
#include "win/syslib.h"

#include <aclapi.h>
#include <shellapi.h>

#include <gtest/gtest.h>
#include <vector>

#include "text_bytes.h"

namespace testing_support {

std::wstring ExeDir()
{
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring FixturePath(const std::wstring& name)
{
    std::wstring relative = ExeDir() + L"\\..\\fixtures\\" + name;
    wchar_t full[MAX_PATH];
    DWORD length = ::GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::wstring(full, length) : relative;
}

std::wstring PkiPath(const std::wstring& name) { return FixturePath(L"pki\\" + name); }

bool RunningOnWine() { return win::Ntdll().wine_get_version != nullptr; }

void TestRootEnvironment::SetUp()
{
    std::wstring command =
        L"\"" + FixturePath(L"install_root.exe") + L"\" \"" + PkiPath(L"root.der") + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &started));
    ::WaitForSingleObject(started.hProcess, 60000);
    DWORD code = 1;
    ::GetExitCodeProcess(started.hProcess, &code);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    ASSERT_EQ(code, 0u) << "root not installed";
}

std::wstring CopyAs(const ScratchDir& dir, const std::wstring& source, const std::wstring& name)
{
    const std::wstring target = dir / name;
    EXPECT_TRUE(::CopyFileW(source.c_str(), target.c_str(), FALSE)) << name;
    return target;
}

ScratchDir::ScratchDir()
{
    wchar_t temp[MAX_PATH];
    DWORD length = ::GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp, length);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    static LONG counter = 0;
    for (;;) {
        m_path = base + L"\\mvt-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::to_wstring(::InterlockedIncrement(&counter));
        if (::CreateDirectoryW(m_path.c_str(), nullptr)) break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
}

ScratchDir::~ScratchDir() { RemoveTree(m_path); }

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

bool WriteUtf16(const std::wstring& path, const std::wstring& text)
{
    return WriteBytes(path, testtext::Utf16(text));
}

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
    ::CloseHandle(file);
    return bytes;
}

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTree(child);
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                ::RemoveDirectoryW(child.c_str());
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

std::string UnixName(const std::wstring& path)
{
    const auto unixName = win::Kernel32().wine_get_unix_file_name;
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name) return std::string();
    std::string result = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

bool StartUnix(const std::string& command)
{
    std::wstring wide(command.begin(), command.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (wide.empty() || !::CreateProcessW(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr,
                                          nullptr, &startup, &started))
        return false;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

std::vector<unsigned char> WellKnown(WELL_KNOWN_SID_TYPE type)
{
    std::vector<unsigned char> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = SECURITY_MAX_SID_SIZE;
    if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
    sid.resize(size);
    return sid;
}

// Owner Administrators; a protected DACL of exactly: Administrators and SYSTEM full control,
// each inherited by folders and files; nothing for the user.
void ExpectAdminOnly(PSECURITY_DESCRIPTOR descriptor, const char* what)
{
    std::vector<unsigned char> admins = WellKnown(WinBuiltinAdministratorsSid),
                               system = WellKnown(WinLocalSystemSid);
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) << what;
    ASSERT_TRUE(owner) << what;
    EXPECT_TRUE(::EqualSid(owner, admins.data())) << what;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision)) << what;
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << what;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) << what;
    ASSERT_TRUE(present && dacl) << what;
    std::vector<unsigned char>* expected[] = {&admins, &system};
    ASSERT_EQ(dacl->AceCount, 2) << what;
    for (DWORD i = 0; i < 2; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &raw)) << what;
        const auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << what << " " << i;
        EXPECT_EQ(ace->Header.AceFlags, win::kInheritedByAll) << what << " " << i;
        EXPECT_EQ(ace->Mask, win::kFullControl) << what << " " << i;
        EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&ace->SidStart), expected[i]->data()))
            << what << " " << i;
    }
}

void ExpectAdminOnlyFolder(const std::wstring& folder, const std::wstring& plainFolder)
{
    // Windows keeps the descriptor as given. Wine keeps no owner and no ACL on files: it
    // turns the DACL into Unix mode bits and reads back a DACL made from them, and it does not
    // check access between programs of one user at all. What it does keep shows here: our
    // DACL grants everyone else nothing, where a folder made without it grants Everyone read.
    ASSERT_TRUE(::CreateDirectoryW(plainFolder.c_str(), nullptr)) << "the plain folder";
    std::vector<unsigned char> everyone = WellKnown(WinWorldSid);
    auto grantsEveryone = [&](const std::wstring& path, PSECURITY_DESCRIPTOR* read) {
        PACL dacl = nullptr;
        if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, &dacl, nullptr, read) != ERROR_SUCCESS ||
            !dacl)
            return true;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            if (::GetAce(dacl, i, &ace) &&
                ::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, everyone.data()))
                return true;
        }
        return false;
    };
    PSECURITY_DESCRIPTOR made = nullptr, control = nullptr;
    EXPECT_FALSE(grantsEveryone(folder, &made));
    EXPECT_TRUE(grantsEveryone(plainFolder, &control));
    if (!RunningOnWine() && made) ExpectAdminOnly(made, "read back");
    ::LocalFree(made);
    ::LocalFree(control);
}

}  // namespace testing_support

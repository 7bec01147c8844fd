#include "win/syslib.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using namespace testing_support;

namespace {

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length);
}

std::wstring LoadedPath(const wchar_t* name)
{
    HMODULE module = ::GetModuleHandleW(name);
    if (!module) return std::wstring();
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

bool InSystemFolder(const std::wstring& path)
{
    const std::wstring folder = SystemFolder() + L"\\";
    return ::CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(), -1,
                                  TRUE) == CSTR_EQUAL;
}

// The file of the module that holds `address`.
std::wstring ModuleFileOf(const void* address)
{
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module))
        return std::wstring();
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

template <class Fn>
const void* Address(Fn entry)
{
    return reinterpret_cast<const void*>(entry);
}

}  // namespace

// One helper of each set, loaded only by its set: after the preload it is in memory, from the
// system folder, so a later load by name finds that copy.
TEST(SystemLibrary, PreloadTakesEachSetFromTheSystemFolder)
{
    const struct {
        win::OnDemand when;
        const wchar_t* name;
    } cases[] = {
        {win::OnDemand::Start, L"dnsapi.dll"},
        {win::OnDemand::Https, L"secur32.dll"},
        {win::OnDemand::Window, L"msimg32.dll"},
        {win::OnDemand::Trust, L"imagehlp.dll"},
    };
    for (const auto& c : cases) {
        win::PreloadSystemLibraries(c.when);
        const std::wstring path = LoadedPath(c.name);
        EXPECT_TRUE(InSystemFolder(path))
            << static_cast<int>(c.when) << " " << testing::PrintToString(path);
    }
}

// Each entry is what the system folder's library exports under the entry's name, spelled here
// apart from the table: a misspelt name or a wrong library shows as a difference. Under Wine
// every entry is there; Wine's own exports are null elsewhere, as any export the system lacks.
TEST(SystemLibrary, EveryEntryIsTheSystemFolderExportOfItsName)
{
    const win::WinInetCalls& inet = win::WinInet();
    const win::Crypt32Calls& crypt = win::Crypt32();
    const win::NtdllCalls& nt = win::Ntdll();
    const win::Kernel32Calls& kernel = win::Kernel32();
    HKEY key = nullptr;
    const bool wine =
        ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) ::RegCloseKey(key);
    const struct {
        const wchar_t* library;
        const char* name;
        const void* entry;
        bool present;
    } cases[] = {
        {L"wininet.dll", "InternetGetConnectedState", Address(inet.InternetGetConnectedState),
         true},
        {L"wininet.dll", "InternetCheckConnectionW", Address(inet.InternetCheckConnectionW), true},
        {L"wininet.dll", "InternetOpenW", Address(inet.InternetOpenW), true},
        {L"wininet.dll", "InternetOpenUrlW", Address(inet.InternetOpenUrlW), true},
        {L"wininet.dll", "HttpQueryInfoW", Address(inet.HttpQueryInfoW), true},
        {L"wininet.dll", "InternetReadFile", Address(inet.InternetReadFile), true},
        {L"wininet.dll", "InternetQueryDataAvailable", Address(inet.InternetQueryDataAvailable),
         true},
        {L"wininet.dll", "InternetCombineUrlW", Address(inet.InternetCombineUrlW), true},
        {L"wininet.dll", "InternetQueryOptionW", Address(inet.InternetQueryOptionW), true},
        {L"wininet.dll", "InternetCloseHandle", Address(inet.InternetCloseHandle), true},
        {L"wininet.dll", "DeleteUrlCacheEntryW", Address(inet.DeleteUrlCacheEntryW), true},
        {L"wininet.dll", "CreateUrlCacheEntryW", Address(inet.CreateUrlCacheEntryW), true},
        {L"wininet.dll", "CommitUrlCacheEntryW", Address(inet.CommitUrlCacheEntryW), true},
        {L"wininet.dll", "GetUrlCacheEntryInfoW", Address(inet.GetUrlCacheEntryInfoW), true},
        {L"urlmon.dll", "URLDownloadToFileW", Address(win::UrlMon().URLDownloadToFileW), true},
        {L"wintrust.dll", "WinVerifyTrust", Address(win::WinTrust().WinVerifyTrust), true},
        {L"crypt32.dll", "CryptQueryObject", Address(crypt.CryptQueryObject), true},
        {L"crypt32.dll", "CryptMsgGetParam", Address(crypt.CryptMsgGetParam), true},
        {L"crypt32.dll", "CryptMsgClose", Address(crypt.CryptMsgClose), true},
        {L"crypt32.dll", "CertFindCertificateInStore", Address(crypt.CertFindCertificateInStore),
         true},
        {L"crypt32.dll", "CertGetNameStringW", Address(crypt.CertGetNameStringW), true},
        {L"crypt32.dll", "CertFreeCertificateContext", Address(crypt.CertFreeCertificateContext),
         true},
        {L"crypt32.dll", "CertCloseStore", Address(crypt.CertCloseStore), true},
        {L"crypt32.dll", "CryptSIPRetrieveSubjectGuid", Address(crypt.CryptSIPRetrieveSubjectGuid),
         true},
        {L"crypt32.dll", "CryptSIPLoad", Address(crypt.CryptSIPLoad), true},
        {L"crypt32.dll", "CryptHashPublicKeyInfo", Address(crypt.CryptHashPublicKeyInfo), true},
        {L"ntdll.dll", "NtCreateFile", Address(nt.NtCreateFile), true},
        {L"ntdll.dll", "NtSetInformationFile", Address(nt.NtSetInformationFile), true},
        {L"ntdll.dll", "RtlUpcaseUnicodeChar", Address(nt.RtlUpcaseUnicodeChar), true},
        {L"ntdll.dll", "wine_get_version", Address(nt.wine_get_version), wine},
        {L"kernel32.dll", "SetDefaultDllDirectories", Address(kernel.SetDefaultDllDirectories),
         true},
        {L"kernel32.dll", "SetFileInformationByHandle", Address(kernel.SetFileInformationByHandle),
         true},
        {L"kernel32.dll", "QueryFullProcessImageNameW", Address(kernel.QueryFullProcessImageNameW),
         true},
        {L"kernel32.dll", "CreateSymbolicLinkW", Address(kernel.CreateSymbolicLinkW), true},
        {L"kernel32.dll", "wine_get_unix_file_name", Address(kernel.wine_get_unix_file_name), wine},
        {L"kernel32.dll", "K32EnumProcesses", Address(win::Psapi().K32EnumProcesses), true},
        {L"kernel32.dll", "K32GetProcessImageFileNameW",
         Address(win::Psapi().K32GetProcessImageFileNameW), true},
        {L"comctl32.dll", "InitCommonControlsEx", Address(win::Comctl32().InitCommonControlsEx),
         true},
        {L"oleaut32.dll", "OleLoadPicture", Address(win::OleAut32().OleLoadPicture), true},
    };
    for (const auto& c : cases) {
        const HMODULE library = win::LoadSystemLibrary(c.library);
        ASSERT_NE(library, nullptr) << testing::PrintToString(c.library);
        const void* exported = reinterpret_cast<const void*>(::GetProcAddress(library, c.name));
        EXPECT_EQ(c.entry, exported) << c.name;
        EXPECT_EQ(c.entry != nullptr, c.present) << c.name;
        if (c.entry) {
            EXPECT_TRUE(InSystemFolder(ModuleFileOf(c.entry))) << c.name;
        }
    }
}

// A library that is not in the system folder is not loaded from anywhere else, not even from
// the program's own folder, where a plain load by name finds a planted copy first.
TEST(SystemLibrary, NeverTakesACopyFromTheProgramFolder)
{
    EXPECT_EQ(win::LoadSystemLibrary(L"no-such-library.dll"), nullptr);

    // morvaneprobe is no Wine builtin, so Wine's loader takes a copy it finds.
    const std::wstring planted = ExeDir() + L"\\morvaneprobe.dll";
    const std::wstring marker = planted + L".loaded";
    ASSERT_TRUE(
        ::CopyFileW(FixturePath(L"planted\\morvaneprobe.dll").c_str(), planted.c_str(), FALSE));
    ::DeleteFileW(marker.c_str());
    EXPECT_EQ(win::LoadSystemLibrary(L"morvaneprobe.dll"), nullptr);
    EXPECT_EQ(::GetModuleHandleW(L"morvaneprobe.dll"), nullptr);
    EXPECT_FALSE(Exists(marker));

    // The control: the plant is where a plain load looks.
    HMODULE plain = ::LoadLibraryW(L"morvaneprobe.dll");
    EXPECT_NE(plain, nullptr);
    EXPECT_TRUE(Exists(marker));
    if (plain) ::FreeLibrary(plain);
    ::DeleteFileW(planted.c_str());
    ::DeleteFileW(marker.c_str());
}

// Libraries bound at run time from the system folder only, and the one table of the calls bound.
//
// Morvane runs elevated from folders that anyone may write to (downloads, media),
// so nothing may ever be loaded from its own folder or the current folder.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <olectl.h>
#include <psapi.h>
#include <urlmon.h>
#include <wininet.h>
#include <winternl.h>
// In this order: each needs the one before.
#include <wincrypt.h>
#include <wintrust.h>
#include <mssip.h>

namespace win {

// Restricts the DLL search of the whole process to the system folder. Called first
// thing at start-up; SetDefaultDllDirectories is looked up because old systems lack it.
void RestrictDllSearch();

// When system code loads a helper library of its own by name, on first need: at start-up, at
// the first https download, when the first window appears, when a package's signature is checked.
enum class OnDemand { Start, Https, Window, Trust };

// Loads from the system folder the helper libraries that system code would load by name at
// that point, so the later load by name finds the system copy already in memory. Needed where
// the search restriction does not reach such loads (under Wine, a builtin's delay-loads search
// the program's folder first) and on systems without SetDefaultDllDirectories.
void PreloadSystemLibraries(OnDemand when);

// Loads a library from the system folder (never from the program's folder). The module
// stays loaded for the life of the process. nullptr when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The calls bound at run time, one table per library, each entry typed and named as the SDK
// declares it. A table is bound once, on its first use from any thread, from the library in
// the system folder; an entry the system lacks is null, and so is every entry of a library it
// lacks. Nothing of these is in the import table, so a missing one costs only the call.

// Every entry is bound (not null).
template <class... Fn>
bool Present(Fn... entries)
{
    return (... && (entries != nullptr));
}

// The table when every one of `entries` of it is bound; null otherwise.
template <class Calls, class... Fn>
const Calls* IfPresent(const Calls& calls, Fn... entries)
{
    return Present(entries...) ? &calls : nullptr;
}

struct WinInetCalls {
    decltype(&::InternetGetConnectedState) InternetGetConnectedState;
    decltype(&::InternetCheckConnectionW) InternetCheckConnectionW;
    decltype(&::InternetOpenW) InternetOpenW;
    decltype(&::InternetOpenUrlW) InternetOpenUrlW;
    decltype(&::HttpQueryInfoW) HttpQueryInfoW;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable;
    decltype(&::InternetCombineUrlW) InternetCombineUrlW;
    decltype(&::InternetQueryOptionW) InternetQueryOptionW;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
    decltype(&::DeleteUrlCacheEntryW) DeleteUrlCacheEntryW;
    // The tests plant and read cache entries with these.
    decltype(&::CreateUrlCacheEntryW) CreateUrlCacheEntryW;
    decltype(&::CommitUrlCacheEntryW) CommitUrlCacheEntryW;
    decltype(&::GetUrlCacheEntryInfoW) GetUrlCacheEntryInfoW;
};
const WinInetCalls& WinInet();

// The tests fetch from their fixture server with it.
struct UrlMonCalls {
    decltype(&::URLDownloadToFileW) URLDownloadToFileW;
};
const UrlMonCalls& UrlMon();

// Binding this table (and Crypt32's) first preloads the OnDemand::Trust set: wintrust and
// crypt32 load their own helpers by name while they check a file.
struct WinTrustCalls {
    decltype(&::WinVerifyTrust) WinVerifyTrust;
};
const WinTrustCalls& WinTrust();

struct Crypt32Calls {
    decltype(&::CryptQueryObject) CryptQueryObject;
    decltype(&::CryptMsgGetParam) CryptMsgGetParam;
    decltype(&::CryptMsgClose) CryptMsgClose;
    decltype(&::CertFindCertificateInStore) CertFindCertificateInStore;
    decltype(&::CertGetNameStringW) CertGetNameStringW;
    decltype(&::CertFreeCertificateContext) CertFreeCertificateContext;
    decltype(&::CertCloseStore) CertCloseStore;
    decltype(&::CryptSIPRetrieveSubjectGuid) CryptSIPRetrieveSubjectGuid;
    decltype(&::CryptSIPLoad) CryptSIPLoad;
    decltype(&::CryptHashPublicKeyInfo) CryptHashPublicKeyInfo;
    // The revocation check of the signer's chain.
    decltype(&::CertGetSubjectCertificateFromStore) CertGetSubjectCertificateFromStore;
    decltype(&::CertGetCertificateChain) CertGetCertificateChain;
    decltype(&::CertFreeCertificateChain) CertFreeCertificateChain;
    decltype(&::CertFindExtension) CertFindExtension;
    decltype(&::CertVerifyRevocation) CertVerifyRevocation;
    // The control file's detached signature: the signature over the signed attributes, the
    // body's own digest, and the signer's chain to a trusted root.
    decltype(&::CryptVerifyDetachedMessageSignature) CryptVerifyDetachedMessageSignature;
    decltype(&::CryptHashCertificate) CryptHashCertificate;
    decltype(&::CertVerifyCertificateChainPolicy) CertVerifyCertificateChainPolicy;
};
const Crypt32Calls& Crypt32();

// ntdll's import library also exports C runtime names, so it is never linked.
struct NtdllCalls {
    decltype(&::NtCreateFile) NtCreateFile;
    decltype(&::NtSetInformationFile) NtSetInformationFile;
    decltype(&::NtQueryInformationFile) NtQueryInformationFile;
    decltype(&::RtlNtStatusToDosError) RtlNtStatusToDosError;
    // Declared only by the driver kit's headers.
    WCHAR(NTAPI* RtlUpcaseUnicodeChar)(WCHAR);
    NTSTATUS(NTAPI* NtQueryDirectoryFile)
    (HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS,
     BOOLEAN, PUNICODE_STRING, BOOLEAN);
    // Wine's own export, which no SDK declares: present only under Wine.
    const char*(CDECL* wine_get_version)();
};
const NtdllCalls& Ntdll();

// kernel32 calls newer than Windows XP, the oldest system the settings' default minimum lets
// run (or, for the last, that only Wine has). The program imports none of them, so it loads on
// every system down to XP and there shows the "not supported" view or starts the wizard, as the
// settings say; tests/windows/check_imports.py holds the import table to that. What each entry
// is where the system lacks the call (CONTRIBUTING lists them):
struct Kernel32Calls {
    // Null: the search is not restricted further than SetDllDirectoryW does (7 with KB2533623).
    decltype(&::SetDefaultDllDirectories) SetDefaultDllDirectories;
    // Null: the current folder stays in the classic search order (XP before SP1); every library
    // of ours is loaded by its full path in the system folder regardless.
    decltype(&::SetDllDirectoryW) SetDllDirectoryW;
    // The callers need these four, so they are never null: where kernel32 lacks one (before
    // Vista) it is win::stand_in's of the same signature, made of calls XP has (win/stand_ins.h).
    decltype(&::SetFileInformationByHandle) SetFileInformationByHandle;
    decltype(&::GetFileInformationByHandleEx) GetFileInformationByHandleEx;
    decltype(&::QueryFullProcessImageNameW) QueryFullProcessImageNameW;
    decltype(&::CompareStringOrdinal) CompareStringOrdinal;
    // Null before Vista; only the tests make links.
    decltype(&::CreateSymbolicLinkW) CreateSymbolicLinkW;
    // The Unix name of a Windows path, in a block of the process heap.
    char*(CDECL* wine_get_unix_file_name)(LPCWSTR);
};
const Kernel32Calls& Kernel32();

// The process-status calls live in kernel32 under these names from Windows 7 on, and in
// psapi.dll under the names without "K32" before; each entry is taken from kernel32 where it
// has it, else from psapi. (The psapi import library would tie the program to one of them.)
struct PsapiCalls {
    decltype(&::K32EnumProcesses) K32EnumProcesses;
    decltype(&::K32GetProcessImageFileNameW) K32GetProcessImageFileNameW;
};
const PsapiCalls& Psapi();

// Bound at run time: the manifest gives version 6 from the side-by-side store.
struct Comctl32Calls {
    decltype(&::InitCommonControlsEx) InitCommonControlsEx;
};
const Comctl32Calls& Comctl32();

// Bound at run time: the path to the wizard never loads the OLE automation library.
struct OleAut32Calls {
    decltype(&::OleLoadPicture) OleLoadPicture;
};
const OleAut32Calls& OleAut32();

}  // namespace win

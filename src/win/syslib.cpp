#include "win/syslib.h"

#include "win/handles.h"
#include "win/stand_ins.h"

#include <string>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace win {

namespace {

struct OnDemandLibrary {
    const wchar_t* name;
    OnDemand when;
};

// Helper libraries that are not KnownDLLs and that the system code Morvane calls loads by name
// only when first needed. A KnownDLL always comes from the system folder; these come from
// wherever the loader finds them first. Each set is loaded at the latest point that still
// precedes its first use, so the path to the wizard pays only for the Start set.
const OnDemandLibrary kOnDemandLibraries[] = {
    // shell32 (ShellExecuteW) and the compatibility layer read version resources through it.
    {L"version.dll", OnDemand::Start},
    // advapi32 loads it at the first random number (RtlGenRandom), which WinINet and COM draw.
    {L"cryptbase.dll", OnDemand::Start},
    // WinINet and Winsock load these for the connectivity test's address and name lookups.
    {L"iphlpapi.dll", OnDemand::Start},
    {L"dnsapi.dll", OnDemand::Start},
    // WinINet's proxy auto-detection.
    {L"dhcpcsvc.dll", OnDemand::Start},
    // WinINet's TLS and certificate checks for an https address. secur32 brings its security
    // packages with it (under Wine Kerberos, MSV1_0, netapi32): too dear for a plain http path.
    {L"secur32.dll", OnDemand::Https},
    {L"sspicli.dll", OnDemand::Https},
    {L"crypt32.dll", OnDemand::Https},
    // The first window, the COM apartment's hidden one included: user32 and comctl32 load the
    // theme engine for it, which draws through AlphaBlend and TransparentBlt at the first paint.
    {L"uxtheme.dll", OnDemand::Window},
    {L"msimg32.dll", OnDemand::Window},
    // The theme engine and comctl32 ask the desktop window manager about composition.
    {L"dwmapi.dll", OnDemand::Window},
    // OleLoadPicture decodes the animation's GIF frames through the imaging component
    // (which brings propsys with it from the same folder).
    {L"windowscodecs.dll", OnDemand::Window},
    // wintrust hashes a PE image through imagehlp (a KnownDLL on Windows, not under Wine).
    {L"imagehlp.dll", OnDemand::Trust},
    // crypt32 fetches issuer certificates and revocation lists through cryptnet.
    {L"cryptnet.dll", OnDemand::Trust},
    // The cryptographic provider that hashes the file and checks the signature.
    {L"cryptsp.dll", OnDemand::Trust},
    {L"rsaenh.dll", OnDemand::Trust},
    // crypt32 loads the subject interface package of installer databases by its registered name.
    {L"msisip.dll", OnDemand::Trust},
};

}  // namespace

void PreloadSystemLibraries(OnDemand when)
{
    for (const OnDemandLibrary& library : kOnDemandLibraries) {
        // A name this system lacks is no risk: nothing of the system asks for it either.
        if (library.when == when) LoadSystemLibrary(library.name);
    }
}

void RestrictDllSearch()
{
    if (auto setDefault = Kernel32().SetDefaultDllDirectories)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Also drops the current folder from the classic search order where the call above is missing.
    if (auto setDirectory = Kernel32().SetDllDirectoryW) setDirectory(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module) return module;
    // Systems without the search flags reject it; a full path in the system folder
    // gives the same guarantee there.
    wchar_t folder[MAX_PATH];
    UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(folder, length);
    path += L'\\';
    path += name;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {

template <class Fn>
void Bind(HMODULE module, Fn& entry, const char* name)
{
    entry = module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                   : nullptr;
}

// Where the system lacks a call the program needs, the entry is the stand-in of the same type.
template <class Fn>
void StandIn(Fn& entry, Fn standIn)
{
    if (!entry) entry = standIn;
}

// The entry's member name is the export's name.
#define MORVANE_BIND(module, calls, entry) Bind(module, calls.entry, #entry)

void Fill(WinInetCalls& c)
{
    const HMODULE m = LoadSystemLibrary(L"wininet.dll");
    MORVANE_BIND(m, c, InternetGetConnectedState);
    MORVANE_BIND(m, c, InternetCheckConnectionW);
    MORVANE_BIND(m, c, InternetOpenW);
    MORVANE_BIND(m, c, InternetOpenUrlW);
    MORVANE_BIND(m, c, HttpQueryInfoW);
    MORVANE_BIND(m, c, InternetReadFile);
    MORVANE_BIND(m, c, InternetQueryDataAvailable);
    MORVANE_BIND(m, c, InternetCombineUrlW);
    MORVANE_BIND(m, c, InternetQueryOptionW);
    MORVANE_BIND(m, c, InternetCloseHandle);
    MORVANE_BIND(m, c, DeleteUrlCacheEntryW);
    MORVANE_BIND(m, c, CreateUrlCacheEntryW);
    MORVANE_BIND(m, c, CommitUrlCacheEntryW);
    MORVANE_BIND(m, c, GetUrlCacheEntryInfoW);
}

void Fill(UrlMonCalls& c) { MORVANE_BIND(LoadSystemLibrary(L"urlmon.dll"), c, URLDownloadToFileW); }

void Fill(WinTrustCalls& c)
{
    PreloadSystemLibraries(OnDemand::Trust);
    MORVANE_BIND(LoadSystemLibrary(L"wintrust.dll"), c, WinVerifyTrust);
}

void Fill(Crypt32Calls& c)
{
    PreloadSystemLibraries(OnDemand::Trust);
    const HMODULE m = LoadSystemLibrary(L"crypt32.dll");
    MORVANE_BIND(m, c, CryptQueryObject);
    MORVANE_BIND(m, c, CryptMsgGetParam);
    MORVANE_BIND(m, c, CryptMsgClose);
    MORVANE_BIND(m, c, CertFindCertificateInStore);
    MORVANE_BIND(m, c, CertGetNameStringW);
    MORVANE_BIND(m, c, CertFreeCertificateContext);
    MORVANE_BIND(m, c, CertCloseStore);
    MORVANE_BIND(m, c, CryptSIPRetrieveSubjectGuid);
    MORVANE_BIND(m, c, CryptSIPLoad);
    MORVANE_BIND(m, c, CryptHashPublicKeyInfo);
    MORVANE_BIND(m, c, CertGetSubjectCertificateFromStore);
    MORVANE_BIND(m, c, CryptVerifyDetachedMessageSignature);
    MORVANE_BIND(m, c, CryptHashCertificate);
    MORVANE_BIND(m, c, CertVerifyCertificateChainPolicy);
    MORVANE_BIND(m, c, CertGetCertificateChain);
    MORVANE_BIND(m, c, CertFreeCertificateChain);
    MORVANE_BIND(m, c, CertFindExtension);
    MORVANE_BIND(m, c, CertVerifyRevocation);
}

void Fill(NtdllCalls& c)
{
    const HMODULE m = LoadSystemLibrary(L"ntdll.dll");
    MORVANE_BIND(m, c, NtCreateFile);
    MORVANE_BIND(m, c, NtSetInformationFile);
    MORVANE_BIND(m, c, NtQueryInformationFile);
    MORVANE_BIND(m, c, RtlNtStatusToDosError);
    MORVANE_BIND(m, c, RtlUpcaseUnicodeChar);
    MORVANE_BIND(m, c, NtQueryDirectoryFile);
    MORVANE_BIND(m, c, wine_get_version);
}

void Fill(Kernel32Calls& c)
{
    const HMODULE m = LoadSystemLibrary(L"kernel32.dll");
    MORVANE_BIND(m, c, SetDefaultDllDirectories);
    MORVANE_BIND(m, c, SetDllDirectoryW);
    MORVANE_BIND(m, c, SetFileInformationByHandle);
    MORVANE_BIND(m, c, GetFileInformationByHandleEx);
    MORVANE_BIND(m, c, QueryFullProcessImageNameW);
    MORVANE_BIND(m, c, CompareStringOrdinal);
    MORVANE_BIND(m, c, CreateSymbolicLinkW);
    MORVANE_BIND(m, c, wine_get_unix_file_name);
    StandIn(c.SetFileInformationByHandle, &stand_in::SetFileInformationByHandle);
    StandIn(c.GetFileInformationByHandleEx, &stand_in::GetFileInformationByHandleEx);
    StandIn(c.QueryFullProcessImageNameW, &stand_in::QueryFullProcessImageNameW);
    StandIn(c.CompareStringOrdinal, &stand_in::CompareStringOrdinal);
}

void Fill(PsapiCalls& c)
{
    const HMODULE kernel = LoadSystemLibrary(L"kernel32.dll");
    MORVANE_BIND(kernel, c, K32EnumProcesses);
    MORVANE_BIND(kernel, c, K32GetProcessImageFileNameW);
    if (!c.K32EnumProcesses)
        Bind(LoadSystemLibrary(L"psapi.dll"), c.K32EnumProcesses, "EnumProcesses");
    if (!c.K32GetProcessImageFileNameW)
        Bind(LoadSystemLibrary(L"psapi.dll"), c.K32GetProcessImageFileNameW,
             "GetProcessImageFileNameW");
}

void Fill(Comctl32Calls& c)
{
    MORVANE_BIND(LoadSystemLibrary(L"comctl32.dll"), c, InitCommonControlsEx);
}

void Fill(OleAut32Calls& c) { MORVANE_BIND(LoadSystemLibrary(L"oleaut32.dll"), c, OleLoadPicture); }

#undef MORVANE_BIND

// A table is a function-local static: C++11 makes its first use bind it once, whichever
// threads race to it (mingw-w64's win32 thread model guards it with a mutex).
template <class Calls>
const Calls& Bound()
{
    static const Calls calls = [] {
        Calls c{};
        Fill(c);
        return c;
    }();
    return calls;
}

}  // namespace

const WinInetCalls& WinInet() { return Bound<WinInetCalls>(); }
const UrlMonCalls& UrlMon() { return Bound<UrlMonCalls>(); }
const WinTrustCalls& WinTrust() { return Bound<WinTrustCalls>(); }
const Crypt32Calls& Crypt32() { return Bound<Crypt32Calls>(); }
const NtdllCalls& Ntdll() { return Bound<NtdllCalls>(); }
const Kernel32Calls& Kernel32() { return Bound<Kernel32Calls>(); }
const PsapiCalls& Psapi() { return Bound<PsapiCalls>(); }
const Comctl32Calls& Comctl32() { return Bound<Comctl32Calls>(); }
const OleAut32Calls& OleAut32() { return Bound<OleAut32Calls>(); }

void InternetTraits::Close(Type h) { WinInet().InternetCloseHandle(h); }
void CertStoreTraits::Close(Type h) { Crypt32().CertCloseStore(h, 0); }
void CryptMessageTraits::Close(Type h) { Crypt32().CryptMsgClose(h); }
void CertContextTraits::Close(Type h) { Crypt32().CertFreeCertificateContext(h); }
void CertChainTraits::Close(Type h) { Crypt32().CertFreeCertificateChain(h); }

}  // namespace win

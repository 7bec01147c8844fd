#include "win/syslib.h"

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
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Also drops the current folder from the classic search order where the call above is missing.
    ::SetDllDirectoryW(L"");
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

FARPROC SystemProc(const wchar_t* library, const char* name)
{
    HMODULE module = LoadSystemLibrary(library);
    return module ? ::GetProcAddress(module, name) : nullptr;
}

}  // namespace win

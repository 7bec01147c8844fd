// morvane-sfx.exe, the extractor every package is made of: run hidden without arguments, it
// unpacks the payload the packer put into its resources into the temporary folder and ends.
// No window, no argument, no DLL beyond the system's.
#include <windows.h>

#include "pack/extract.h"
#include "win/syslib.h"

namespace {

int Run()
{
    HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_RCDATA);
    HGLOBAL loaded = resource ? ::LoadResource(nullptr, resource) : nullptr;
    const void* payload = loaded ? ::LockResource(loaded) : nullptr;
    if (!payload) return pack::kNoPayload;
    // The bytes stay where the loader mapped them; nothing copies the payload.
    return pack::Extract(static_cast<const unsigned char*>(payload),
                         ::SizeofResource(nullptr, resource), pack::TemporaryFolder());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    win::RestrictDllSearch();
    return Run();
}

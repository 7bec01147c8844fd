// Entry point: closes the DLL search to everything but the system folder, takes the helper
// libraries the path to the wizard may load from there, then hands over to the one
// application object.
#include <windows.h>

#include "app/morvane_app.h"
#include "win/syslib.h"

namespace {
app::CMorvaneApp theApp;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    win::RestrictDllSearch();
    win::PreloadSystemLibraries(win::OnDemand::Start);
    return theApp.InitInstance();
}

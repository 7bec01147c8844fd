// The least a start-up can do: open KVWizard.exe from the program's own folder and end. The
// start-up benchmark measures Morvane's path to the wizard against this floor.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    while (length > 0 && path[length - 1] != L'\\') --length;
    path[length] = L'\0';
    if (length + 12 >= MAX_PATH) return 1;
    lstrcatW(path, L"KVWizard.exe");
    ::ShellExecuteW(nullptr, L"open", path, nullptr, nullptr, SW_SHOW);
    return 0;
}

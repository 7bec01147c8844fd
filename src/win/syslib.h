// Libraries bound at run time from the system folder only.
//
// Morvane runs elevated from folders that anyone may write to (downloads, media),
// so nothing may ever be loaded from its own folder or the current folder.
#pragma once
#include <windows.h>

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

// Looks up an export of a system library; nullptr when the library or export is missing.
FARPROC SystemProc(const wchar_t* library, const char* name);

template <class Fn>
Fn SystemFunction(const wchar_t* library, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(SystemProc(library, name)));
}

}  // namespace win

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

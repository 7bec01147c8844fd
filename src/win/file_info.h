// What a file handle says about the file it holds.
#pragma once
#include <windows.h>

#include <string>

namespace win {

// The handle's own path below its volume ("\Temp\pkg\KVWizard.exe"), as opened: short names stay
// short; empty when the system cannot say. Two handles on one volume compare by it, at a
// fraction of the cost of GetFinalPathNameByHandleW, which asks the mount manager for the
// volume's name each time.
std::wstring PathBelowVolume(HANDLE handle);

}  // namespace win

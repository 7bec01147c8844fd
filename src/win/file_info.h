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

// The size in bytes of the file the handle holds. False when the system cannot say.
bool FileSize(HANDLE file, unsigned long long* size);

}  // namespace win

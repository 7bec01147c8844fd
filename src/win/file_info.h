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

// Whether two handles hold the same file or folder: the 128-bit id where the system has it
// (ReFS needs it), else the volume serial number and 64-bit index, which NTFS and FAT keep
// unique within a volume.
bool SameFile(HANDLE a, HANDLE b);

// Sets or clears the delete disposition of `file` (opened with DELETE access): set, the file
// goes with its last handle, however the process ends. SetFileInformationByHandle is bound at
// run time because Windows XP lacks it; there this answers false.
bool SetDeleteOnClose(HANDLE file, bool remove);

// How many names (hard links) the file has; false when the system cannot say.
bool LinkCount(HANDLE file, unsigned long* links);

// Whether `path` ("C:\a\b" or "\\?\C:\a\b"), opened now without following a link at its
// end, is what `held` holds, reached through no link on the way (the handle's own path below
// its volume is the path's). A call that takes only a path is given the path of what we hold,
// checked by this at the moment of use.
bool PathNamesHeld(const std::wstring& path, HANDLE held);

}  // namespace win

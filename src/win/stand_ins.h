// What the table of run-time-bound calls holds where the system lacks a call the program needs:
// a stand-in of the same signature made of calls that Windows XP has, so that a caller uses the
// table's entry the same way on every system. win::Kernel32() binds these where kernel32 lacks
// the export; the tests call them directly to hold them to the system's own answers.
#pragma once
#include <windows.h>

namespace win {
namespace stand_in {

// Ordinal comparison as kernel32's (Vista): code units compared one by one, each upper-cased by
// the system's simple table (ntdll's RtlUpcaseUnicodeChar) when `ignoreCase`; a negative count
// reads up to the terminating null. CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN; 0 with
// ERROR_INVALID_PARAMETER for a null string.
int WINAPI CompareStringOrdinal(LPCWCH a, int countA, LPCWCH b, int countB, BOOL ignoreCase);

// kernel32's (Vista) over ntdll's NtQueryInformationFile and NtQueryDirectoryFile, for the
// classes whose layout is that of the native call's own: basic, standard, name, attribute tag,
// and the id-and-both-names directory listing (from the start with the restart class). Any
// other class fails with ERROR_INVALID_PARAMETER, as on a system that does not know it.
BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                         LPVOID info, DWORD bytes);

// kernel32's (Vista) over ntdll's NtSetInformationFile, for basic, rename, disposition,
// allocation and end-of-file; any other class fails with ERROR_INVALID_PARAMETER.
BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                       LPVOID info, DWORD bytes);

// kernel32's (Vista) over the process-status call GetProcessImageFileNameW, whose device form
// ("\Device\HarddiskVolume1\a.exe") is turned into the drive form ("C:\a.exe") through the
// drive letters' device names; PROCESS_NAME_NATIVE keeps the device form. An image on no drive
// letter fails with ERROR_PATH_NOT_FOUND, a short buffer with ERROR_INSUFFICIENT_BUFFER.
BOOL WINAPI QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name, PDWORD size);

}  // namespace stand_in
}  // namespace win

#!/usr/bin/env python3
"""Fails when a program that runs on the user's machine (Morvane.exe, and the package's
extractor it runs) imports a function that Windows XP lacks.

An import the loader cannot find stops the program before its first line with a loader error,
so a system the settings turn away would never see the "not supported" view. Every call newer
than Windows XP is bound at run time through win/syslib's table instead.

Usage: check_imports.py PROGRAM.exe...

The list below is what these programs import today, each checked against Windows XP (SP3 for 32-bit,
the x64 edition for 64-bit). A new import goes in only once it is known to be exported there;
anything newer is bound through the table, with what happens where it is missing.
"""

import struct
import sys

ALLOWED = {
    "advapi32.dll": """AddAccessAllowedAceEx CheckTokenMembership CreateWellKnownSid GetAce
        GetLengthSid GetSecurityDescriptorControl GetSecurityInfo GetTokenInformation
        InitializeAcl InitializeSecurityDescriptor IsValidSid IsWellKnownSid
        OpenProcessToken RegCloseKey RegOpenKeyExW RegQueryValueExW
        SetSecurityDescriptorControl SetSecurityDescriptorDacl
        SetSecurityDescriptorOwner SystemFunction036""",
    "gdi32.dll": """BitBlt CreateCompatibleBitmap CreateCompatibleDC CreateFontW CreateSolidBrush
        DeleteDC DeleteObject GetDeviceCaps GetObjectW SelectObject""",
    "kernel32.dll": """__C_specific_handler CloseHandle CreateEventW CreateFileMappingW CreateFileW
        CreateProcessW CreateSemaphoreW DeleteCriticalSection DeleteFileW
        DuplicateHandle EnterCriticalSection FindClose FindFirstFileW FindNextFileW
        FindResourceW FreeEnvironmentStringsW FreeLibrary GetCurrentProcess
        GetCurrentProcessId GetCurrentThreadId GetEnvironmentStringsW
        GetEnvironmentVariableW GetExitCodeProcess GetFileAttributesW
        GetFileInformationByHandle GetFileSizeEx GetLastError GetModuleFileNameW
        GetModuleHandleA GetModuleHandleW GetPrivateProfileStringW GetProcAddress
        GetStartupInfoW GetSystemDirectoryW GetSystemTimeAsFileTime GetSystemWindowsDirectoryW
        GetTickCount GetUserDefaultLCID GetVersionExW GlobalAlloc GlobalFree GlobalLock
        GlobalUnlock
        InitializeCriticalSection LeaveCriticalSection LoadLibraryA LoadLibraryExW
        LoadResource LocalFree LockResource MapViewOfFile MulDiv MultiByteToWideChar
        OpenProcess OutputDebugStringW QueryDosDeviceW QueueUserWorkItem RaiseException
        ReadFile ReleaseSemaphore ResetEvent ResumeThread RtlAddFunctionTable
        RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx RtlVirtualUnwind
        SetEndOfFile SetEvent SetFilePointer SetFilePointerEx SetLastError
        SetUnhandledExceptionFilter SizeofResource Sleep TerminateProcess
        TerminateThread TlsAlloc TlsFree TlsGetValue TlsSetValue UnmapViewOfFile
        VirtualProtect VirtualQuery WaitForMultipleObjects WaitForSingleObject WriteFile""",
    "msvcrt.dll": """abort _amsg_exit _beginthreadex __C_specific_handler calloc _cexit _commode exit
        _fmode fprintf free fwrite _initterm _iob __iob_func malloc memchr memcmp memcpy
        memmove memset _onexit __p__commode __p__fmode __p__wcmdln realloc
        __set_app_type __setusermatherr signal strcmp strlen strncmp vfprintf _wcmdln
        wcslen __wgetmainargs __winitenv""",
    "ole32.dll": "CoCreateInstance CoInitializeEx CoUninitialize CreateStreamOnHGlobal",
    "shlwapi.dll": """PathFileExistsW PathIsDirectoryW PathIsURLW PathRemoveFileSpecW PathSkipRootW
        StrFormatByteSizeW StrToIntW""",
    "user32.dll": """BeginPaint CallWindowProcW DefWindowProcW DestroyIcon DialogBoxParamW DrawIcon
        EnableWindow EndDialog EndPaint EnumWindows FillRect GetClientRect GetDC
        GetDlgCtrlID GetDlgItem GetPropW GetSysColor GetSystemMetrics GetWindowLongPtrW
        GetWindowLongW GetWindowRect GetWindowThreadProcessId InvalidateRect IsIconic
        IsWindow IsWindowEnabled KillTimer LoadImageW MapDialogRect MsgWaitForMultipleObjects
        NotifyWinEvent PeekMessageW PostMessageW ReleaseDC RemovePropW
        SendMessageTimeoutW SendMessageW SetPropW SetTimer SetWindowLongPtrW SetWindowLongW
        SetWindowPos SetWindowTextW ShowWindow""",
}
ALLOWED = {dll: set(names.split()) for dll, names in ALLOWED.items()}


def read_imports(path):
    """{dll name in lower case: [imported names, '#n' for an ordinal]} from a PE image."""
    with open(path, "rb") as f:
        data = f.read()
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("%s: not a PE image" % path)
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    wide = magic == 0x20B
    directories = optional + (112 if wide else 96)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    table = optional + optional_size
    # Each section header: virtual size, virtual address, raw size, raw offset at +8.
    spans = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for size, address, _, raw in spans:
            if address <= rva < address + size:
                return raw + rva - address
        raise SystemExit("%s: address 0x%x is in no section" % (path, rva))

    def text(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    imports = {}
    entry = offset(import_rva) if import_rva else None
    while entry is not None:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", data, entry)
        if not name:
            break
        names = imports.setdefault(text(name).lower(), [])
        thunk = offset(lookup or first)
        size, ordinal_bit = (8, 1 << 63) if wide else (4, 1 << 31)
        while True:
            (value,) = struct.unpack_from("<Q" if wide else "<I", data, thunk)
            if not value:
                break
            names.append("#%d" % (value & 0xFFFF) if value & ordinal_bit else text(value + 2))
            thunk += size
        entry += 20
    return imports


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    faults = []
    for path in sys.argv[1:]:
        imports = read_imports(path)
        if "kernel32.dll" not in imports:
            faults.append("%s: no kernel32 imports found; the reader is wrong" % path)
        for dll, names in sorted(imports.items()):
            allowed = ALLOWED.get(dll)
            if allowed is None:
                faults.append("%s: imports from %s, which is not on the list" % (path, dll))
                continue
            faults += ["%s: imports %s!%s, which Windows XP may lack; bind it through "
                       "win/syslib's table" % (path, dll, name)
                       for name in names if name not in allowed]
        print("%s: %d imports from %d libraries"
              % (path, sum(map(len, imports.values())), len(imports)))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

// What a name from outside (a control file, a URL, a package) may be before it becomes part of
// a path or a download. The program runs elevated, so each answer errs on the side of "no".
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace rules {

// The longest file name a Windows volume stores, in UTF-16 units.
constexpr size_t kMaxFileNameLength = 255;

// True when `name` can only name a file directly inside a folder, the same one on every
// Windows API: not empty, at most kMaxFileNameLength units, not dots and blanks only, no
// trailing dot or blank (Win32 drops those, so "a." opens "a"), no control character and none
// of < > : " / \ | ? * (so no stream, drive or separator), and no reserved device name (CON,
// PRN, AUX, NUL, COM0-9, LPT0-9, COM and LPT with a superscript one to three, CONIN$, CONOUT$,
// CLOCK$), in any case, with or without an extension.
bool IsPlainFileName(const std::wstring& name);

// An http or https URL (scheme in any case) with "://" and a host after it. A UNC path, a
// file URL, "https:x" or any other scheme would have the elevated program open a share or a
// local file.
bool IsWebUrl(const std::wstring& url);

// IsWebUrl with the https scheme.
bool IsHttpsUrl(const std::wstring& url);

// `text` without the profile reader's blanks around it: what iswspace counts among the first
// 128 characters (tab to carriage return, the four separators 0x1C to 0x1F, space) and
// Ctrl-Z, the old end-of-file mark.
std::wstring TrimProfileBlanks(const std::wstring& text);

// Two section or key names as the profile reader matches them: the same ignoring ASCII case.
bool IsSameProfileName(const std::wstring& a, const std::wstring& b);

// Strict UTF-8 (shortest forms only, no surrogates, nothing past U+10FFFF) as UTF-16 code
// units, the way Windows will see a name that arrives as bytes; false for anything else.
bool DecodeUtf8(std::string_view text, std::wstring* out);

// A path relative to a folder that stays inside it: at least one folder and a file, separated
// by single backslashes, each component a plain file name (so no ".", "..", drive, root, UNC,
// stream or device, and no "KVNew.\" or "KVNew \", which Win32 would read as "KVNew\").
bool IsSafeExePath(const std::wstring& exePath);

}  // namespace rules

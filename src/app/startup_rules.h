// The start-up rules that need no operating system: escapes, language table, version and
// revision comparison, the decision and the package file-name rule.
#pragma once
#include <cstdint>
#include <string>

#include "rules/names.h"

namespace app {

// "\r", "\n" and "\t" (backslash and a lower-case letter) become CR, LF and tab, in three
// passes in that order; every other backslash sequence stays.
std::wstring UnescapeControlChars(const std::wstring& text);

// The language folder for a primary language id (locale id masked with 0x3FF).
const wchar_t* LanguageFolderFor(unsigned primaryLanguage);

// What the user is told when the local wizard fails its check and nothing was started, in the
// language folder's language (English for any other): the text built in for a language whose
// uistrings.ini has no MessageWizardRefused key.
const wchar_t* WizardRefusedText(const std::wstring& languageFolder);

// Lexicographic at-least comparison of (major, minor, service pack) as unsigned values, so a
// negative minimum read from a settings file is never reached.
bool IsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint32_t servicePack,
                      std::int32_t minMajor, std::int32_t minMinor, std::int32_t minServicePack);

// A remote revision is newer when it is greater as an unsigned 32-bit value.
bool IsRevisionNewer(std::int32_t remote, std::int32_t local);

enum class Decision { LaunchLocalWizard, ShowDialog };

// What start-up has found by the time it decides.
struct StartupFindings {
    bool osSupported = false;
    bool connected = false;  // the support server answered
    bool updateAvailable = false;
};

// The dialog opens when the system is unsupported, or when online with an update.
Decision Decide(const StartupFindings& found);

// The last path component of a URL or path, as the shell's PathFindFileNameW finds it: what
// follows the last '\\', '/' or ':' that has something other than a separator after it.
std::wstring FileNamePart(const std::wstring& url);

// The package's file name from DownloadUrl: its file-name part when the URL is a web URL and
// that part is a plain file name, else empty (no update).
std::wstring PackageName(const std::wstring& downloadUrl);

// The update decision on the control file's values: a package that lands inside the temporary
// folder, a wizard path that stays inside it, and a newer revision.
bool IsUpdateOffered(const std::wstring& downloadUrl, const std::wstring& exePath,
                     std::int32_t revision, std::int32_t localRevision);

// kavro.ini's UpdateCheck= as an administrator writes it: "0", "off", "no" or "false" (any
// case) turn update checks off; anything else, an absent key included, leaves them on.
bool TurnsUpdateChecksOff(const std::wstring& value);

// A byte count written as decimal digits only, from 1 to `limit`: the control file's Size=.
bool ParseByteCount(const std::wstring& text, std::uint64_t limit, std::uint64_t* bytes);

}  // namespace app

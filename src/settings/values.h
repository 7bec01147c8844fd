// What start-up reads, as plain values made once on the main thread and read-only afterwards:
// the settings files' values, the offer from the control file and every path of the
// installation. The dialog and the update flow receive them by const reference; a worker takes
// its own copies. Portable: no operating system needed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace settings {

// The texts of uistrings.ini and the product name of kavro.ini; escapes already converted.
struct Texts {
    std::wstring titleUpdate;
    std::wstring productName;
    std::wstring messageUpdate;
    std::wstring messageDownload;
    std::wstring downloadError;
    std::wstring messageOSCap;
    std::wstring messageWizardRefused;  // the local wizard failed its check
    // Why an update failed, by rules::FailureCause: the uistrings.ini key (rules::ReasonKey)
    // or the text built in for the language. Read only when the dialog opens.
    std::vector<std::wstring> reasons;
    // The downloading view's line, by ui::LineText: the uistrings.ini key (ui::LineTextKey) or
    // the text built in for the language. Read only when the dialog opens.
    std::vector<std::wstring> downloadLine;
    std::wstring yesBtn;
    std::wstring noBtn;
    std::wstring retryBtn;
    std::wstring cancelBtn;
    std::wstring closeBtn;
};

// The values of kavro.ini and the language files that decide, rather than show.
struct Settings {
    std::int32_t osMajor = 0;
    std::int32_t osMinor = 0;
    std::int32_t spMajor = 0;
    std::int32_t bicon = 0;
    std::wstring drvName;
    std::wstring installerCtlFile;
    std::int32_t installerRevision = 0;
};

// The program's own folders and the files start-up and the dialog read there. Folders are
// normalised: no trailing backslash except a root's ("E:\"), so joining never doubles one.
struct Installation {
    std::wstring appDir;          // this program's folder, which holds the local wizard
    std::wstring tempDir;         // the temporary folder
    std::wstring language;        // the language folder's name
    std::wstring resFolder;       // appDir\res
    std::wstring languageFolder;  // res\<language>
    std::wstring mainSettings;    // res\kavro.ini
    std::wstring animation;       // res\<language>\Morvane.gif
    std::wstring localWizard;     // appDir\KVWizard.exe
};

// `appDir` and `tempDir` are normalised first; `language` may be empty until it is chosen.
Installation MakeInstallation(const std::wstring& appDir, const std::wstring& tempDir,
                              const std::wstring& language);

// What the control file offers, once its values passed the update check's rules.
// DownloadUrl, then DownloadUrl2 up to this: the addresses a package is tried from, in order.
constexpr int kMaxDownloadUrls = 5;

struct Offer {
    std::wstring downloadUrl;
    std::vector<std::wstring> mirrorUrls;  // DownloadUrl2, DownloadUrl3, ...: tried in order
    std::wstring packageName;              // a plain file name, from the URL
    std::wstring exePath;                  // the new wizard, relative to where the package unpacks
    std::int32_t revision = 0;
    std::uint64_t packageSize = 0;  // Size=, the package's bytes; 0 when the file gives none
};

// Everything the dialog and the update flow are given.
struct Values {
    Texts texts;
    Settings settings;
    Installation installation;
    Offer offer;
    bool osSupported = false;
};

}  // namespace settings

#include "settings/values.h"

#include "win/wstr.h"

namespace settings {
namespace {

bool IsRoot(const std::wstring& folder)
{
    // "E:\" and "\\server\share\": the backslash is part of the name there ("E:" alone names
    // the drive's current folder).
    if (folder.size() == 3 && folder[1] == L':' && folder[2] == L'\\') return true;
    if (folder.size() < 2 || folder.compare(0, 2, L"\\\\") != 0) return false;
    const size_t server = folder.find(L'\\', 2);
    if (server == std::wstring::npos) return false;
    const size_t share = folder.find(L'\\', server + 1);
    return share == folder.size() - 1;
}

std::wstring Normalised(std::wstring folder)
{
    while (folder.size() > 1 && folder.back() == L'\\' && !IsRoot(folder)) folder.pop_back();
    return folder;
}

// What the shell's PathRemoveFileSpecW leaves of a path with a folder part.
std::wstring WithoutLastComponent(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// One argument as CommandLineToArgvW and the C runtime read it back: in quotes, with the
// backslashes before a quote (the closing one included) doubled and inner quotes escaped.
std::wstring Quoted(const std::wstring& text)
{
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

Installation MakeInstallation(const std::wstring& appDir, const std::wstring& tempDir,
                              const std::wstring& language)
{
    Installation i;
    i.appDir = Normalised(appDir);
    i.tempDir = Normalised(tempDir);
    i.language = language;
    i.resFolder = wstr::JoinPath(i.appDir, L"res");
    i.languageFolder = wstr::JoinPath(i.resFolder, language);
    i.mainSettings = wstr::JoinPath(i.resFolder, L"kavro.ini");
    i.animation = wstr::JoinPath(i.languageFolder, L"Morvane.gif");
    i.localWizard = wstr::JoinPath(i.appDir, L"KVWizard.exe");
    return i;
}

UpdatePaths MakeUpdatePaths(const Installation& installation, const Offer& offer)
{
    UpdatePaths p;
    if (!offer.packageName.empty()) p.packageFile = wstr::JoinPath(installation.tempDir, offer.packageName);
    if (offer.exePath.empty()) return p;
    p.newWizard = wstr::JoinPath(installation.tempDir, offer.exePath);
    p.extractedFolder = WithoutLastComponent(p.newWizard);
    p.wizardCopy = wstr::JoinPath(p.extractedFolder, L"KVWizard.exe");
    p.targetRes = wstr::JoinPath(p.extractedFolder, L"res");
    return p;
}

std::wstring PackageCommandLine(const UpdatePaths& paths) { return Quoted(paths.packageFile); }

std::wstring NewWizardCommandLine(const UpdatePaths& paths, const Installation& installation)
{
    return Quoted(paths.newWizard) + L" /PATH=" + Quoted(installation.appDir);
}

}  // namespace settings

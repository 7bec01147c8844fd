// The update check: fetch the control file, read the offered revision, compare.
#include <windows.h>
#include <shlwapi.h>

#include "app/morvane_app.h"
#include "app/startup_rules.h"
#include "rules/folders.h"
#include "rules/names.h"
#include "sys/download.h"
#include "win/trail.h"
#include "win/wstr.h"

namespace {

class LocalCopy {
public:
    explicit LocalCopy(std::wstring path) : m_path(std::move(path)) {}
    ~LocalCopy() { ::DeleteFileW(m_path.c_str()); }
    LocalCopy(const LocalCopy&) = delete;
    LocalCopy& operator=(const LocalCopy&) = delete;

private:
    std::wstring m_path;
};

// No update: says why on the trail.
int Refuse(const wchar_t* why)
{
    trail::Say(std::wstring(L"update check: no update, ") + why);
    return 0;
}

}  // namespace

int CMorvaneApp::CheckForUpdate()
{
    const std::wstring& url = m_values.settings.installerCtlFile;
    const std::wstring copyName = startup::FileNamePart(url);
    // The copy's name comes from a URL: it must name a file directly inside the temp folder.
    if (!rules::IsPlainFileName(copyName))
        return Refuse(L"control file URL has no plain file name");
    const std::wstring localCopy = rules::JoinPath(m_values.installation.tempDir, copyName);
    if (!sys::DownloadToFile(url, localCopy, m_networkDeadline))
        return Refuse(L"control file could not be fetched");
    LocalCopy removeOnReturn(localCopy);

    const std::wstring& section = m_values.settings.drvName;
    settings::Offer offer;
    offer.downloadUrl = ReadIniValue(section, L"DownloadUrl", L"", localCopy);
    // The package's name comes from the network: anything but a plain file name (empty, ".",
    // "..", a separator, a device) could put the package outside the temp folder.
    offer.packageName = startup::PackageName(offer.downloadUrl);
    if (!rules::IsWebUrl(offer.downloadUrl))
        return Refuse(L"DownloadUrl is not an http or https URL");
    if (offer.packageName.empty())
        return Refuse(L"DownloadUrl does not end in a plain file name");

    // ExePath decides what runs elevated and what the clean-up deletes.
    offer.exePath = ReadIniValue(section, L"ExePath", L"", localCopy);
    if (!rules::IsSafeExePath(offer.exePath))
        return Refuse(L"ExePath is not a file in a folder below the temporary folder");
    offer.revision = ::StrToIntW(ReadIniValue(section, L"Revision", L"0", localCopy).c_str());
    const std::int32_t local = m_values.settings.installerRevision;
    const bool newer =
        startup::IsUpdateOffered(offer.downloadUrl, offer.exePath, offer.revision, local);
    trail::Say(L"update check: revision " + wstr::Decimal(static_cast<unsigned>(offer.revision)) +
               (newer ? L" offered, newer than " : L" offered, not newer than ") +
               wstr::Decimal(static_cast<unsigned>(local)));
    m_values.offer = offer;
    m_values.update = settings::MakeUpdatePaths(m_values.installation, offer);
    return newer ? 1 : 0;
}

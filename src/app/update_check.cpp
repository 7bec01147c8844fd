// The update check: fetch the control file, read the offered revision, compare.
#include <windows.h>
#include <shlwapi.h>

#include "app/morvane_app.h"
#include "app/startup_rules.h"
#include "sys/download.h"
#include "win/wstr.h"

namespace {

// Last path component of a URL, as the shell's path helper sees it.
std::wstring FileNamePart(const std::wstring& url) { return ::PathFindFileNameW(url.c_str()); }

class LocalCopy {
public:
    explicit LocalCopy(std::wstring path) : m_path(std::move(path)) {}
    ~LocalCopy() { ::DeleteFileW(m_path.c_str()); }
    LocalCopy(const LocalCopy&) = delete;
    LocalCopy& operator=(const LocalCopy&) = delete;

private:
    std::wstring m_path;
};

}  // namespace

int CMorvaneApp::CheckForUpdate()
{
    const std::wstring& url = m_strInstallerCtlFile;
    const std::wstring copyName = FileNamePart(url);
    // The copy's name comes from a URL: it must name a file directly inside the temp folder.
    if (!startup::IsPlainFileName(copyName)) return 0;
    const std::wstring localCopy = wstr::JoinPath(m_strTempDir, copyName);
    if (!sys::DownloadToFile(url, localCopy)) return 0;
    LocalCopy removeOnReturn(localCopy);

    const std::wstring& section = m_strDrvName;
    m_strDownloadUrl = ReadIniValue(section, L"DownloadUrl", L"", localCopy);
    // The package's name comes from the network: anything but a plain file name (empty, ".",
    // "..", a separator, a device) could put the package outside the temp folder.
    const std::wstring packageName = FileNamePart(m_strDownloadUrl);
    if (!startup::IsWebUrl(m_strDownloadUrl) || !startup::IsPlainFileName(packageName)) return 0;
    m_strPackagePath = wstr::JoinPath(m_strTempDir, packageName);

    // ExePath decides what runs elevated and what the clean-up deletes.
    m_strExePath = ReadIniValue(section, L"ExePath", L"", localCopy);
    if (!startup::IsSafeExePath(m_strExePath)) return 0;
    m_nRevision = ::StrToIntW(ReadIniValue(section, L"Revision", L"0", localCopy).c_str());
    return startup::IsRevisionNewer(m_nRevision, m_nInstallerRevision) ? 1 : 0;
}

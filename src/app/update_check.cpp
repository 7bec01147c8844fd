// The update check: fetch the control file, read the offered revision, compare.
#include <windows.h>
#include <shlwapi.h>

#include "app/morvane_app.h"
#include "app/startup_rules.h"
#include "win/syslib.h"
#include "win/wstr.h"

namespace {

using DeleteUrlCacheEntryFn = BOOL(WINAPI*)(LPCWSTR);
using UrlDownloadToFileFn = HRESULT(WINAPI*)(IUnknown*, LPCWSTR, LPCWSTR, DWORD, void*);

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

int DownloadToFile(const std::wstring& url, const std::wstring& localPath)
{
    if (!::PathIsURLW(url.c_str())) return 0;
    if (localPath.size() >= MAX_PATH) return 0;
    wchar_t folder[MAX_PATH];
    lstrcpynW(folder, localPath.c_str(), MAX_PATH);
    if (!::PathRemoveFileSpecW(folder)) return 0;
    if (!::PathIsDirectoryW(folder)) return 0;

    auto deleteCacheEntry =
        win::SystemFunction<DeleteUrlCacheEntryFn>(L"wininet.dll", "DeleteUrlCacheEntryW");
    auto download = win::SystemFunction<UrlDownloadToFileFn>(L"urlmon.dll", "URLDownloadToFileW");
    if (!download) return 0;
    // Never take the file from an earlier cached copy.
    if (deleteCacheEntry) deleteCacheEntry(url.c_str());
    return download(nullptr, url.c_str(), localPath.c_str(), 0, nullptr) >= 0 ? 1 : 0;
}

int CMorvaneApp::CheckForUpdate()
{
    const std::wstring& url = m_strInstallerCtlFile;
    const std::wstring copyName = FileNamePart(url);
    // The copy's name comes from a URL: it must name a file directly inside the temp folder.
    if (!startup::IsPlainFileName(copyName)) return 0;
    const std::wstring localCopy = wstr::JoinPath(m_strTempDir, copyName);
    if (!DownloadToFile(url, localCopy)) return 0;
    LocalCopy removeOnReturn(localCopy);

    const std::wstring& section = m_strDrvName;
    m_strDownloadUrl = ReadIniValue(section, L"DownloadUrl", L"", localCopy);
    // The package's name comes from the network: anything but a plain file name (empty, ".",
    // "..", a separator, a device) could put the package outside the temp folder.
    const std::wstring packageName = FileNamePart(m_strDownloadUrl);
    if (m_strDownloadUrl.empty() || !startup::IsPlainFileName(packageName)) return 0;
    m_strPackagePath = wstr::JoinPath(m_strTempDir, packageName);

    m_strExePath = ReadIniValue(section, L"ExePath", L"", localCopy);
    if (m_strExePath.empty()) return 0;
    m_nRevision = ::StrToIntW(ReadIniValue(section, L"Revision", L"0", localCopy).c_str());
    return startup::IsRevisionNewer(m_nRevision, m_nInstallerRevision) ? 1 : 0;
}

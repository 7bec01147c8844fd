// Network primitives: the support server's connectivity probe and URL downloads to files.
//
// WinINet and urlmon are bound at run time from the system folder, like every library
// Morvane needs beyond the few Windows always takes from there.
#pragma once
#include <string>

namespace sys {

// 1 when the machine reports a connection and the server at `url` answers a forced
// connection check; 0 otherwise.
int IsServerReachable(const wchar_t* url);

// Fetches the control file: `url` must be a URL and `localPath` a file in an existing folder
// (both checked before anything is fetched). Removes the URL's cache entry first. 1 or 0.
int DownloadToFile(const std::wstring& url, const std::wstring& localPath);

// Fetches the package into `file`, replacing what is there, after removing the URL's cache
// entry. Blocks until the whole file is stored or the download failed. 1 or 0.
int DownloadPackageFile(const std::wstring& url, const std::wstring& file);

}  // namespace sys

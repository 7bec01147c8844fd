// The package download: the file between attempts, the resume and the stall watch.
#pragma once
#include <functional>
#include <string>

#include "sys/http_rules.h"
#include "win/handles.h"
#include "win/thread.h"

namespace sys {

// The package `name` in the held folder `folder` (the run's work folder, which must outlive
// this object) between attempts: it is made, written and removed relative to that handle, never
// by a path. While the file is partial it is held open by this
// object and by no one else (no write sharing), with its delete disposition set, so the file
// disappears with the process whatever ends it; Discard and the destructor remove it too. Once
// the whole file is stored the disposition is cleared and the handle closed, so a reader that
// denies writers can open it; a stored file outlives the object, and only Discard removes it.
//
// Run is for one thread at a time. Destruction while no Run is active is safe even when an
// attempt's network thread is still stuck in WinINet: that thread owns its own handles and
// writes to the file only while its Run waits for it.
class PackageDownload {
public:
    // (received, total): total is 0 while the server gives no length.
    using Progress = std::function<void(unsigned long long, unsigned long long)>;

    PackageDownload(std::wstring url, HANDLE folder, std::wstring name,
                    DownloadLimits limits = DownloadLimits());
    ~PackageDownload();
    PackageDownload(const PackageDownload&) = delete;
    PackageDownload& operator=(const PackageDownload&) = delete;

    // One attempt, on the calling thread (the network calls run on a pool thread that Run
    // waits for and walks away from at a stall or a stop). `progress` is called on the calling
    // thread as bytes arrive. `stop`, once requested by another thread, ends the attempt within
    // a fraction of a second. A cut or stalled attempt keeps the partial file when the server
    // offered ranges and a validator, and the next Run asks only for the rest (If-Range: a
    // changed file comes whole); otherwise the next Run starts over. Every other fault removes
    // the partial. NetFault::None when the whole file is stored, closed, in the folder.
    NetFault Run(const Progress& progress, const win::StopFlag& stop);

    // Removes the partial or the stored file.
    void Discard();

private:
    class Transfer;
    void ForgetPartial();

    const std::wstring m_url;
    const HANDLE m_folder;
    const std::wstring m_name;
    const DownloadLimits m_limits;
    win::File m_partial;             // the open partial file, when there is one
    unsigned long long m_have = 0;   // bytes in the partial file
    unsigned long long m_total = 0;  // the whole file's length, 0 when unknown
    std::wstring m_validator;        // ETag or Last-Modified of the bytes we have
    bool m_stored = false;
};

}  // namespace sys

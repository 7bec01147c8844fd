// The run's own folder for everything an update writes, runs and loads: the package, what it
// unpacks, the copies and the new wizard. Made fresh below the temporary folder under a name
// no one can guess ahead ("Morvane-" and 32 random hex digits), created (never opened)
// relative to a held handle of the temporary folder, so no link or folder planted there is
// ever used. Elevated, its owner is Administrators and its protected DACL gives Administrators
// and SYSTEM full control and the user read and execute (win::AdminOnlyFolder), so none of the
// user's programs can put a file or a link inside. It is held open without delete sharing
// while it lives, so nobody can rename it (or a folder above it) and put another in its place:
// a path below it keeps naming what we made.
#pragma once
#include <string>

#include "win/handles.h"
#include "win/thread.h"

namespace update {

class WorkFolder : public win::RefCounted {
public:
    // Makes the folder in `tempDir`; false when it cannot be made.
    bool Make(const std::wstring& tempDir);
    bool IsMade() const;
    const std::wstring& path() const { return m_path; }

    // Removes the folder with everything in it, through the held handle. Any thread may ask;
    // true when it went (or was never made). A file some program still holds open keeps it,
    // and the next start removes it (RemoveLeftoverWorkFolders).
    bool Remove();

private:
    ~WorkFolder() override { Remove(); }

    mutable win::Lock m_lock;
    std::wstring m_path;
    win::File m_folder;
};

// At start-up: removes every work folder an earlier run left behind when it died, by handle
// and never through a link (a link of that name is removed as a link). Only names of the work
// folders' form are touched.
void RemoveLeftoverWorkFolders(const std::wstring& tempDir);

}  // namespace update

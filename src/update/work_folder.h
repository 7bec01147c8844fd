// The run's own folder for everything an update writes, runs and loads: the package, what it
// unpacks, the copies and the new wizard. Its parent is the machine's program-data folder,
// found by the system from the machine's own settings, never from the user's environment (an
// elevated process takes TEMP from HKCU\Environment, which is the user's to change, and a
// junction in the user's profile can be re-pointed while a folder below it is held). Nothing
// on the way to it is the user's to rename or re-point.
//
// Made fresh (never opened) under a name no one can guess ahead ("Morvane-" and 32 random hex
// digits), relative to a held handle of that parent, so nothing planted there is ever used.
// Elevated, its owner is Administrators and its protected DACL gives Administrators and SYSTEM
// full control and nobody else anything (win::AdminOnlyFolder). It is held open without delete
// sharing while it lives. Everything inside is reached relative to the held handle; a path is
// only handed to a call that takes none, and is then checked to name the held folder.
#pragma once
#include <string>

#include "win/handles.h"
#include "win/thread.h"

namespace update {

class WorkFolder : public win::RefCounted {
public:
    // Makes the folder; false when it cannot be made.
    bool Make();
    bool IsMade() const;
    // The held folder, for opening what lies inside it; null until made.
    HANDLE handle() const;
    // The folder's path, checked now to name the held folder through no link; empty when it
    // does not (or the folder is not made). What a call that takes only a path is given.
    std::wstring CheckedPath() const;

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

// Where work folders are made: the machine's program-data folder; empty when the system cannot
// say.
std::wstring WorkFolderParent();

// At start-up: removes every work folder an earlier run left behind when it died, by handle
// and never through a link. Only folders of the work folders' name form that carry the
// descriptor a work folder is made with (rules::IsWorkFolderSecurity) are touched: one the
// user made, or moved there, is left as it is.
void RemoveLeftoverWorkFolders();

}  // namespace update

#include "update/work_folder.h"

#include <windows.h>
#include <ntsecapi.h>

#include "rules/folders.h"
#include "sys/directory_tree.h"
#include "win/nt_file.h"
#include "win/security.h"
#include "win/trail.h"

namespace update {
namespace {

// Filled, listed and, at the end, deleted through this one handle. Without delete sharing,
// nobody renames it away while we hold it.
constexpr win::EntryOpen kMakeWorkFolder{
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |
        FILE_READ_ATTRIBUTES | DELETE,
    FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE};

win::File OpenTemporaryFolder(const std::wstring& tempDir)
{
    return win::File(::CreateFileW(tempDir.c_str(),
                                   FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool RandomName(std::wstring* name)
{
    unsigned char random[rules::kWorkFolderRandomBytes];
    if (!::RtlGenRandom(random, sizeof random)) return false;
    *name = rules::WorkFolderName(random);
    return true;
}

}  // namespace

bool WorkFolder::Make(const std::wstring& tempDir)
{
    win::Locked hold(m_lock);
    if (m_folder) return true;
    const win::File temp = OpenTemporaryFolder(tempDir);
    std::wstring name;
    if (!temp || !RandomName(&name)) {
        win::Trail(L"work folder: the temporary folder " + tempDir + L" cannot be used");
        return false;
    }
    // Elevated, the folder is the administrators' alone; the user's programs may read it.
    win::AdminOnlyFolder security;
    const bool elevated = win::IsElevated();
    if (elevated && !security.Build()) return false;
    win::File folder;
    if (win::OpenInFolder(temp.get(), name, kMakeWorkFolder, &folder,
                          elevated ? security.get() : nullptr) != win::EntryResult::Opened) {
        win::Trail(L"work folder: " + name + L" could not be made in " + tempDir);
        return false;
    }
    m_folder = std::move(folder);
    m_path = rules::JoinPath(tempDir, name);
    win::Trail(L"work folder: " + m_path + (elevated ? L" made, administrators only" : L" made"));
    return true;
}

bool WorkFolder::IsMade() const
{
    win::Locked hold(m_lock);
    return m_folder.valid();
}

bool WorkFolder::Remove()
{
    win::Locked hold(m_lock);
    if (!m_folder) return true;
    const bool removed = sys::DeleteHeldDirectoryTree(std::move(m_folder));
    win::Trail(L"work folder: " + m_path +
               (removed ? L" removed" : L" could not be removed whole"));
    return removed;
}

void RemoveLeftoverWorkFolders(const std::wstring& tempDir)
{
    WIN32_FIND_DATAW found;
    const win::FindHandle find(
        ::FindFirstFileW(rules::JoinPath(tempDir, L"Morvane-*").c_str(), &found));
    if (!find) return;
    do {
        const std::wstring name = found.cFileName;
        if (!rules::IsWorkFolderName(name)) continue;
        const std::wstring leftover = rules::JoinPath(tempDir, name);
        // Walked from the root by handle: a link there goes as a link, its target stays.
        const bool removed = sys::DeleteDirectoryTree(leftover) != 0;
        win::Trail(
            L"start-up: " + leftover +
            (removed ? L" left by an earlier run, removed" : L" left by an earlier run, kept"));
    } while (::FindNextFileW(find.get(), &found));
}

}  // namespace update

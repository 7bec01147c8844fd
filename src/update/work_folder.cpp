#include "update/work_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <ntsecapi.h>

#include "rules/folders.h"
#include "sys/directory_tree.h"
#include "win/file_info.h"
#include "win/nt_file.h"
#include "win/security.h"
#include "win/syslib.h"
#include "win/trail.h"

namespace update {
namespace {

// Filled, listed and, at the end, deleted through this one handle. Without delete sharing,
// nobody renames it away while we hold it.
constexpr win::EntryOpen kMakeWorkFolder{FILE_LIST_DIRECTORY | FILE_ADD_FILE |
                                             FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |
                                             FILE_READ_ATTRIBUTES | DELETE,
                                         win::kHoldSharing, FILE_CREATE, FILE_DIRECTORY_FILE};

// A leftover is read (its descriptor), and only then deleted through the same handle.
constexpr win::EntryOpen kOpenLeftover{
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | DELETE,
    win::kHoldSharing, FILE_OPEN, FILE_DIRECTORY_FILE};

win::File OpenParent(const std::wstring& parent, DWORD access)
{
    return win::File(::CreateFileW(parent.c_str(), access,
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

rules::Account AccountOf(PSID sid)
{
    if (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return rules::Account::Administrators;
    if (::IsWellKnownSid(sid, WinLocalSystemSid)) return rules::Account::System;
    return rules::Account::Other;
}

// The held folder's owner and DACL as the system reads them back; false when it cannot.
bool ReadSecurity(HANDLE folder, rules::FolderSecurity* security)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    win::LocalMemory descriptor;
    if (::GetSecurityInfo(folder, SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                          &dacl, nullptr, descriptor.receive()) != ERROR_SUCCESS ||
        !owner)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorControl(descriptor.get(), &control, &revision)) return false;
    security->owner = AccountOf(owner);
    security->daclPresent = dacl != nullptr;
    security->daclProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!::GetAce(dacl, i, &raw)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(raw);
        rules::AccessEntry entry;
        entry.allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        entry.flags = header->AceFlags;
        if (entry.allows) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(raw);
            entry.account = AccountOf(&allowed->SidStart);
            entry.mask = allowed->Mask;
        }
        security->entries.push_back(entry);
    }
    return true;
}

void RemoveLeftover(HANDLE parent, const std::wstring& parentPath, const std::wstring& name)
{
    const std::wstring path = rules::JoinPath(parentPath, name);
    win::File leftover;
    rules::FolderSecurity security;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (win::OpenInFolder(parent, name, kOpenLeftover, &leftover) != win::EntryResult::Opened ||
        !win::Kernel32().GetFileInformationByHandleEx(leftover.get(), FileAttributeTagInfo, &tag,
                                                      sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !ReadSecurity(leftover.get(), &security)) {
        win::Trail(L"start-up: " + path + L" is in use, a link or unreadable; kept");
        return;
    }
    if (!rules::IsWorkFolderSecurity(security)) {
        win::Trail(L"start-up: " + path + L" was not made by Morvane; kept");
        return;
    }
    // Walked from the root by handle: a link inside goes as a link, its target stays.
    const bool removed = sys::DeleteHeldDirectoryTree(std::move(leftover));
    win::Trail(L"start-up: " + path +
               (removed ? L" left by an earlier run, removed" : L" left by an earlier run, kept"));
}

}  // namespace

std::wstring WorkFolderParent()
{
    // The kernel's own record of the Windows folder, not %SystemRoot% or %windir%, which come
    // from an environment the user may have written.
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return rules::JoinPath(rules::NormaliseFolder(std::wstring(windows, length)), L"Temp");
}

bool WorkFolder::Make()
{
    win::Locked hold(m_lock);
    if (m_folder) return true;
    const std::wstring parentPath = WorkFolderParent();
    const win::File parent =
        OpenParent(parentPath, FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES);
    std::wstring name;
    if (!parent || !RandomName(&name)) {
        win::Trail(L"work folder: the folder " + parentPath + L" cannot be used");
        return false;
    }
    // Elevated, the folder is the administrators' alone.
    win::AdminOnlyFolder security;
    const bool elevated = win::IsElevated();
    if (elevated && !security.Build()) return false;
    win::File folder;
    if (win::OpenInFolder(parent.get(), name, kMakeWorkFolder, &folder,
                          elevated ? security.get() : nullptr) != win::EntryResult::Opened) {
        win::Trail(L"work folder: " + name + L" could not be made in " + parentPath);
        return false;
    }
    m_folder = std::move(folder);
    m_path = rules::JoinPath(parentPath, name);
    win::Trail(L"work folder: " + m_path + (elevated ? L" made, administrators only" : L" made"));
    return true;
}

bool WorkFolder::IsMade() const
{
    win::Locked hold(m_lock);
    return m_folder.valid();
}

HANDLE WorkFolder::handle() const
{
    win::Locked hold(m_lock);
    return m_folder ? m_folder.get() : nullptr;
}

std::wstring WorkFolder::CheckedPath() const
{
    win::Locked hold(m_lock);
    if (!m_folder) return std::wstring();
    if (win::PathNamesHeld(m_path, m_folder.get())) return m_path;
    win::Trail(L"work folder: " + m_path + L" no longer names the folder we hold");
    return std::wstring();
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

void RemoveLeftoverWorkFolders()
{
    const std::wstring parentPath = WorkFolderParent();
    const win::File parent = OpenParent(parentPath, FILE_TRAVERSE | FILE_READ_ATTRIBUTES);
    if (!parent) return;
    // Listed by a pattern, which the system filters (the folder may hold thousands of others);
    // the path is the held parent's, which nobody but an administrator can re-point, and every
    // name found is opened relative to the held handle.
    WIN32_FIND_DATAW found;
    const win::FindHandle find(
        ::FindFirstFileW(rules::JoinPath(parentPath, L"Morvane-*").c_str(), &found));
    if (!find) return;
    do {
        if (rules::IsWorkFolderName(found.cFileName))
            RemoveLeftover(parent.get(), parentPath, found.cFileName);
    } while (::FindNextFileW(find.get(), &found));
}

}  // namespace update

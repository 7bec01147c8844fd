#include "sys/directory_tree.h"

#include <windows.h>
#include <winternl.h>

#include <utility>
#include <vector>

#include "rules/names.h"
#include "sys/tree_rules.h"
#include "win/file_info.h"
#include "win/handles.h"
#include "win/nt_file.h"
#include "win/syslib.h"
#include "win/trail.h"

// Every folder and file is opened by handle, relative to the folder that lists it, and what is
// checked is the object that is then read, written or deleted. A folder stays open without
// delete sharing while the walk works inside it, so nobody can rename it or put a link in its
// place until the walk has left it.
namespace sys {
namespace {

constexpr DWORD kListingBytes = 32 * 1024;
constexpr DWORD kCopyBytes = 64 * 1024;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

using OpenMode = win::EntryOpen;

constexpr ACCESS_MASK kListFolder = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr ACCESS_MASK kFillFolder = kListFolder | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;

// The folders a path passes through on the way to the one worked on.
constexpr OpenMode kPassThrough{FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                                FILE_DIRECTORY_FILE};
constexpr OpenMode kParentToAddTo{FILE_TRAVERSE | FILE_READ_ATTRIBUTES | FILE_ADD_SUBDIRECTORY,
                                  kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE};
constexpr OpenMode kMakeFolder{FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN_IF,
                               FILE_DIRECTORY_FILE};
constexpr OpenMode kSourceFolder{kListFolder, win::kHoldSharing, FILE_OPEN, FILE_DIRECTORY_FILE};
constexpr OpenMode kTargetFolder{kFillFolder, win::kHoldSharing, FILE_OPEN, FILE_DIRECTORY_FILE};
constexpr OpenMode kMakeTargetFolder{kFillFolder, win::kHoldSharing, FILE_OPEN_IF,
                                     FILE_DIRECTORY_FILE};
constexpr OpenMode kSourceFile{FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY};
constexpr OpenMode kDeleteFolder{DELETE | kListFolder, win::kHoldSharing, FILE_OPEN, 0};
constexpr OpenMode kDeleteOther{DELETE | FILE_READ_ATTRIBUTES, win::kHoldSharing, FILE_OPEN, 0};

// An open folder or file, with the path the system gives for that handle.
struct Held {
    win::File handle;
    std::wstring path;
    DWORD attributes = 0;
};

enum class Outcome {
    Opened,     // the entry itself, no link
    Link,       // the link itself (junction, symbolic link, mount point), never its target
    Elsewhere,  // the open ended somewhere else than the entry: a link was followed
    Missing,    // no such entry, or not of the kind asked for
    Failed,     // access refused, in use, or another error
};

bool IsPathOf(const std::wstring& path, const Held& parent, const std::wstring& name)
{
    std::wstring expected = parent.path;
    if (expected.empty() || expected.back() != L'\\') expected += L'\\';
    expected += name;
    return win::Kernel32().CompareStringOrdinal(path.c_str(), static_cast<int>(path.size()),
                                                expected.c_str(), static_cast<int>(expected.size()),
                                                TRUE) == CSTR_EQUAL;
}

// Opens `name` in `parent` and says what it is. Wine follows links whatever the flags say, so
// the handle's path must be the entry's own: an open that ended anywhere else went through a
// link and is closed again untouched.
Outcome OpenEntry(const Held& parent, const std::wstring& name, const OpenMode& mode, Held* entry)
{
    win::File handle;
    const win::EntryResult opened = win::OpenInFolder(parent.handle.get(), name, mode, &handle);
    if (opened == win::EntryResult::Missing || opened == win::EntryResult::WrongKind)
        return Outcome::Missing;
    if (opened != win::EntryResult::Opened) return Outcome::Failed;
    std::wstring path = win::PathBelowVolume(handle.get());
    if (path.empty()) return Outcome::Failed;
    if (!IsPathOf(path, parent, name)) return Outcome::Elsewhere;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!win::Kernel32().GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag,
                                                      sizeof tag))
        return Outcome::Failed;
    entry->handle = std::move(handle);
    entry->path = std::move(path);
    entry->attributes = tag.FileAttributes;
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? Outcome::Link : Outcome::Opened;
}

// Opens the folder at `path` one component at a time from its root, each relative to the one
// before, so no link anywhere on the way is followed; `last` says how to open the final one.
// An empty path.names gives the root itself, opened as `last` says.
Outcome OpenFolder(const FolderPath& path, const OpenMode& last, Held* folder)
{
    const OpenMode& rootMode = path.names.empty() ? last : kPassThrough;
    Held at;
    at.handle.reset(::CreateFileW(path.root.c_str(), rootMode.access, rootMode.share, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!at.handle) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Outcome::Missing
                                                                              : Outcome::Failed;
    }
    at.path = win::PathBelowVolume(at.handle.get());
    if (at.path.empty()) return Outcome::Failed;
    for (size_t i = 0; i < path.names.size(); ++i) {
        const bool isLast = i + 1 == path.names.size();
        Held next;
        const Outcome outcome = OpenEntry(at, path.names[i], isLast ? last : kPassThrough, &next);
        if (isLast && outcome != Outcome::Opened) {
            if (outcome == Outcome::Link) *folder = std::move(next);
            return outcome;
        }
        // A link on the way is no way through, and never something to remove.
        if (outcome == Outcome::Missing) return Outcome::Missing;
        if (outcome != Outcome::Opened) return Outcome::Failed;
        at = std::move(next);
    }
    *folder = std::move(at);
    return Outcome::Opened;
}

// A file with a second name (a hard link anyone who may write a folder of the installation can
// make, to a file they may not read) is never copied: the copy would be readable wherever it
// lands, and its bytes are not the installation's.
bool HasOneName(const Held& file)
{
    unsigned long links = 0;
    if (win::LinkCount(file.handle.get(), &links) && links == 1) return true;
    win::Trail(L"tree copy: " + file.path + L" has another name besides this one; not copied");
    return false;
}

bool MarkForDeletion(HANDLE handle) { return win::SetDeleteOnClose(handle, true); }

using Listed = FILE_ID_BOTH_DIR_INFO;

// Calls visit(entry, name) for every entry of the held folder, "." and ".." included, in the
// order the system lists them; false when the listing fails or a visit returns false.
template <class Visit>
bool ForEachEntry(const Held& folder, Visit visit)
{
    std::vector<LONGLONG> buffer(kListingBytes / sizeof(LONGLONG));
    for (;;) {
        if (!win::Kernel32().GetFileInformationByHandleEx(
                folder.handle.get(), FileIdBothDirectoryInfo, buffer.data(), kListingBytes))
            return ::GetLastError() == ERROR_NO_MORE_FILES;
        const unsigned char* at = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const Listed*>(at);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (!visit(*entry, name)) return false;
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
}

class CopyWalk {
public:
    CopyWalk() : m_buffer(kCopyBytes) {}

    bool CopyFolder(const Held& to, size_t toLength, const Held& from, size_t fromLength)
    {
        if (toLength > kMaxListedFolderLength || fromLength > kMaxListedFolderLength) return false;
        return ForEachEntry(from, [&](const Listed& entry, const std::wstring& name) {
            return CopyEntry(to, toLength, from, fromLength, entry, name);
        });
    }

    // The target is made first, with FILE_CREATE, which fails on anything already there,
    // link or not; what was there stays untouched (and counts as copied). Attributes that
    // would stop our own clean-up (read-only) are set once the bytes are in. True as well when
    // the source is gone or a link by now: nothing of ours to copy.
    bool CopyFile(const Held& to, const Held& from, const std::wstring& name,
                  DWORD sourceAttributes, LARGE_INTEGER lastWrite)
    {
        const DWORD attributes = sourceAttributes & kCopiedAttributes;
        const OpenMode create{GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                              FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY,
                              attributes & ~FILE_ATTRIBUTE_READONLY};
        win::File target;
        const win::EntryResult made = win::OpenInFolder(to.handle.get(), name, create, &target);
        if (made == win::EntryResult::Exists) return true;
        if (made != win::EntryResult::Opened) return false;
        Held source;
        const Outcome outcome = OpenEntry(from, name, kSourceFile, &source);
        if (outcome == Outcome::Opened && !HasOneName(source)) {
            // Skipped as a link is: its bytes may be another file's, one its owner guards.
            MarkForDeletion(target.get());
            return true;
        }
        if (outcome == Outcome::Opened && CopyBytes(source.handle.get(), target.get()) &&
            SetTimeAndAttributes(target.get(), lastWrite, attributes))
            return true;
        MarkForDeletion(target.get());  // as with CopyFileW, no half-made file stays behind
        return outcome != Outcome::Opened && outcome != Outcome::Failed;
    }

private:
    bool CopyEntry(const Held& to, size_t toLength, const Held& from, size_t fromLength,
                   const Listed& entry, const std::wstring& name)
    {
        switch (ClassifyEntry(name, entry.FileAttributes)) {
        case ListedKind::Folder: return CopySubfolder(to, toLength, from, fromLength, name);
        case ListedKind::File:
            return CopyFile(to, from, name, entry.FileAttributes, entry.LastWriteTime);
        // "." and "..", and links in the source: not part of the tree we copy.
        default: return true;
        }
    }

    bool CopySubfolder(const Held& to, size_t toLength, const Held& from, size_t fromLength,
                       const std::wstring& name)
    {
        Held source;
        switch (OpenEntry(from, name, kSourceFolder, &source)) {
        case Outcome::Opened: break;
        case Outcome::Failed: return false;
        default: return true;  // gone, or a link by now: nothing of ours to copy
        }
        Held target;
        if (OpenEntry(to, name, kMakeTargetFolder, &target) != Outcome::Opened) return false;
        return CopyFolder(target, toLength + 1 + name.size(), source, fromLength + 1 + name.size());
    }

    bool CopyBytes(HANDLE from, HANDLE to)
    {
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(from, m_buffer.data(), kCopyBytes, &got, nullptr)) return false;
            if (got == 0) return true;
            DWORD written = 0;
            if (!::WriteFile(to, m_buffer.data(), got, &written, nullptr) || written != got)
                return false;
        }
    }

    static bool SetTimeAndAttributes(HANDLE file, LARGE_INTEGER lastWrite, DWORD attributes)
    {
        FILE_BASIC_INFO basic{};  // zero times and attributes are left as they are
        basic.LastWriteTime = lastWrite;
        // The others were given at creation; setting them again costs Wine an extended
        // attribute write per file.
        if (attributes & FILE_ATTRIBUTE_READONLY) basic.FileAttributes = attributes;
        return win::Kernel32().SetFileInformationByHandle(file, FileBasicInfo, &basic,
                                                          sizeof basic) != 0;
    }

    std::vector<char> m_buffer;
};

bool DeleteHeldFolder(const Held& folder, size_t length);

bool DeleteEntry(const Held& folder, size_t length, const Listed& entry, const std::wstring& name)
{
    const ListedKind kind = ClassifyEntry(name, entry.FileAttributes);
    if (kind == ListedKind::Skip) return true;
    Held child;
    switch (OpenEntry(folder, name, kind == ListedKind::Folder ? kDeleteFolder : kDeleteOther,
                      &child)) {
    case Outcome::Opened:
        if (child.attributes & FILE_ATTRIBUTE_DIRECTORY)
            return DeleteHeldFolder(child, length + 1 + name.size());
        return MarkForDeletion(child.handle.get());
    case Outcome::Link: return MarkForDeletion(child.handle.get());
    case Outcome::Missing: return true;  // already gone
    default: return false;
    }
}

// Deletes what the folder holds, then the folder; a folder too deep to list goes only when
// it is empty. The deletions happen as each handle closes.
bool DeleteHeldFolder(const Held& folder, size_t length)
{
    if (length <= kMaxListedFolderLength &&
        !ForEachEntry(folder, [&](const Listed& entry, const std::wstring& name) {
            return DeleteEntry(folder, length, entry, name);
        }))
        return false;
    return MarkForDeletion(folder.handle.get());
}

// A held folder of the caller's, as the walks hold one: a handle of our own to the same
// folder, and its path.
bool HoldCopy(HANDLE folder, Held* held)
{
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), folder, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return false;
    held->handle.reset(copy);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!win::Kernel32().GetFileInformationByHandleEx(copy, FileAttributeTagInfo, &tag,
                                                      sizeof tag) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    held->attributes = tag.FileAttributes;
    held->path = win::PathBelowVolume(copy);
    return !held->path.empty();
}

bool CopyFileInto(const Held& target, const std::wstring& source, const std::wstring& name)
{
    FolderPath from;
    if (!rules::IsPlainFileName(name) || !SplitSourceFolderPath(source, &from)) return false;
    Held sourceFolder, file;
    if (OpenFolder(from, kSourceFolder, &sourceFolder) != Outcome::Opened ||
        OpenEntry(sourceFolder, name, kSourceFile, &file) != Outcome::Opened || !HasOneName(file))
        return false;
    // Held without delete sharing until the copy is made, so it cannot go meanwhile.
    FILE_BASIC_INFO basic{};
    if (!win::Kernel32().GetFileInformationByHandleEx(file.handle.get(), FileBasicInfo, &basic,
                                                      sizeof basic))
        return false;
    return CopyWalk().CopyFile(target, sourceFolder, name, basic.FileAttributes,
                               basic.LastWriteTime);
}

}  // namespace

int EnsureDirectory(const std::wstring& destination, const std::wstring& source)
{
    FolderPath to, from;
    if (!SplitFolderPath(destination, &to) || !SplitSourceFolderPath(source, &from)) return 0;
    Held sourceFolder;
    if (OpenFolder(from, kPassThrough, &sourceFolder) != Outcome::Opened) return 0;
    const std::wstring name = to.names.back();
    to.names.pop_back();
    Held parent, made;
    if (OpenFolder(to, kParentToAddTo, &parent) != Outcome::Opened) return 0;
    return OpenEntry(parent, name, kMakeFolder, &made) == Outcome::Opened ? 1 : 0;
}

int CopyDirectoryTree(const std::wstring& destination, const std::wstring& source)
{
    FolderPath to, from;
    if (!SplitFolderPath(destination, &to) || !SplitFolderPath(source, &from)) return 0;
    Held sourceFolder;
    switch (OpenFolder(from, kSourceFolder, &sourceFolder)) {
    case Outcome::Opened: break;
    case Outcome::Missing: return 1;  // nothing to copy
    default: return 0;
    }
    Held target;
    if (OpenFolder(to, kTargetFolder, &target) != Outcome::Opened) return 0;
    return CopyWalk().CopyFolder(target, destination.size(), sourceFolder, source.size());
}

bool CopyFileIfMissing(const std::wstring& destination, const std::wstring& source,
                       const std::wstring& name)
{
    FolderPath to;
    Held target;
    return SplitFolderPath(destination, &to) &&
           OpenFolder(to, kTargetFolder, &target) == Outcome::Opened &&
           CopyFileInto(target, source, name);
}

bool DeleteHeldDirectoryTree(win::File folder)
{
    Held held;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!folder ||
        !win::Kernel32().GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &tag,
                                                      sizeof tag) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    held.path = win::PathBelowVolume(folder.get());
    held.attributes = tag.FileAttributes;
    held.handle = std::move(folder);
    if (held.path.empty() || !DeleteHeldFolder(held, held.path.size())) return false;
    held.handle.reset();
    return true;
}

int DeleteDirectoryTree(const std::wstring& folder)
{
    FolderPath path;
    if (!SplitFolderPath(folder, &path)) return 0;
    Held held;
    switch (OpenFolder(path, kDeleteFolder, &held)) {
    case Outcome::Opened:
        if (!(held.attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
        return DeleteHeldFolder(held, folder.size());
    case Outcome::Link: return MarkForDeletion(held.handle.get()) ? 1 : 0;
    default: return 0;
    }
}

bool OpenFolderIn(HANDLE parent, const std::wstring& name, FolderUse use, win::File* folder)
{
    Held held, entry;
    const OpenMode& mode = use == FolderUse::MakeOrOpen ? kMakeTargetFolder : kTargetFolder;
    if (!rules::IsPlainFileName(name) || !HoldCopy(parent, &held) ||
        OpenEntry(held, name, mode, &entry) != Outcome::Opened ||
        !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    *folder = std::move(entry.handle);
    return true;
}

bool CopyTreeInto(HANDLE destination, const std::wstring& source)
{
    FolderPath from;
    Held target, sourceFolder;
    if (!SplitFolderPath(source, &from) || !HoldCopy(destination, &target)) return false;
    switch (OpenFolder(from, kSourceFolder, &sourceFolder)) {
    case Outcome::Opened: break;
    case Outcome::Missing: return true;  // nothing to copy
    default: return false;
    }
    return CopyWalk().CopyFolder(target, target.path.size(), sourceFolder, source.size());
}

bool CopyFileIfMissingInto(HANDLE destination, const std::wstring& source, const std::wstring& name)
{
    Held target;
    return HoldCopy(destination, &target) && CopyFileInto(target, source, name);
}

bool DeleteTreeIn(HANDLE parent, const std::wstring& name)
{
    Held held, entry;
    if (!rules::IsPlainFileName(name) || !HoldCopy(parent, &held)) return false;
    switch (OpenEntry(held, name, kDeleteFolder, &entry)) {
    case Outcome::Missing: return true;
    case Outcome::Link: return MarkForDeletion(entry.handle.get());
    case Outcome::Opened:
        if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY))
            return MarkForDeletion(entry.handle.get());
        return DeleteHeldFolder(entry, entry.path.size());
    default: return false;
    }
}

}  // namespace sys

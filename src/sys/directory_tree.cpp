#include "sys/directory_tree.h"

#include <windows.h>
#include <shlwapi.h>

#include "sys/tree_rules.h"
#include "win/handles.h"

namespace tree {
namespace {

bool IsReparsePoint(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsLink(const std::wstring& path) { return IsReparsePoint(::GetFileAttributesW(path.c_str())); }

// A folder that is itself a folder, not a link to one.
bool IsRealFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring ParentOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

win::FindHandle StartListing(const std::wstring& folder, WIN32_FIND_DATAW* entry)
{
    const std::wstring pattern = ListingPattern(folder);
    if (pattern.empty()) return win::FindHandle();
    return win::FindHandle(::FindFirstFileW(pattern.c_str(), entry));
}

// A link is removed as what it is: a directory link with RemoveDirectoryW (which on a
// junction or directory symlink removes the link, not the target), a file link with
// DeleteFileW.
bool RemoveLink(const std::wstring& path, DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str()) != 0
                                                   : ::DeleteFileW(path.c_str()) != 0;
}

int CopyEntry(const std::wstring& destination, const std::wstring& source,
              const WIN32_FIND_DATAW& entry)
{
    const std::wstring from = source + L"\\" + entry.cFileName;
    const std::wstring to = destination + L"\\" + entry.cFileName;
    switch (ClassifyEntry(entry.cFileName, entry.dwFileAttributes)) {
    case EntryKind::Folder:
        if (!::PathIsDirectoryW(to.c_str()) && !::CreateDirectoryW(to.c_str(), nullptr))
            return 0;
        return CopyDirectoryTree(to, from);
    case EntryKind::File:
        if (::PathFileExistsW(to.c_str())) return 1;  // never replaced, whatever it is
        return ::CopyFileW(from.c_str(), to.c_str(), TRUE) ? 1 : 0;
    default:
        return 1;  // "." and "..", and links in the source: not part of the tree we copy
    }
}

}  // namespace

int EnsureDirectory(const std::wstring& destination, const std::wstring& source)
{
    if (!::PathIsDirectoryW(source.c_str())) return 0;
    if (IsLink(destination)) return 0;
    if (::PathIsDirectoryW(destination.c_str())) return 1;
    if (IsLink(ParentOf(destination))) return 0;
    return ::CreateDirectoryW(destination.c_str(), nullptr) ? 1 : 0;
}

int CopyDirectoryTree(const std::wstring& destination, const std::wstring& source)
{
    if (!::PathIsDirectoryW(source.c_str())) return 1;  // nothing to copy
    // The destination must be a folder we can list, and not a link to somewhere else.
    if (!IsRealFolder(destination) || ListingPattern(destination).empty()) return 0;
    WIN32_FIND_DATAW entry;
    win::FindHandle listing = StartListing(source, &entry);
    if (!listing) return 0;  // the source exists but cannot be listed: its files would be lost
    do {
        if (!CopyEntry(destination, source, entry)) return 0;
    } while (::FindNextFileW(listing.get(), &entry));
    return 1;
}

int DeleteDirectoryTree(const std::wstring& folder)
{
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (IsReparsePoint(attributes)) return RemoveLink(folder, attributes) ? 1 : 0;
    WIN32_FIND_DATAW entry;
    win::FindHandle listing = StartListing(folder, &entry);
    if (listing) {
        do {
            const std::wstring path = folder + L"\\" + entry.cFileName;
            bool removed = true;
            switch (ClassifyEntry(entry.cFileName, entry.dwFileAttributes)) {
            case EntryKind::Folder: removed = DeleteDirectoryTree(path) != 0; break;
            case EntryKind::File: removed = ::DeleteFileW(path.c_str()) != 0; break;
            case EntryKind::Link: removed = RemoveLink(path, entry.dwFileAttributes); break;
            case EntryKind::Skip: break;
            }
            if (!removed) return 0;
        } while (::FindNextFileW(listing.get(), &entry));
    }
    listing.reset();  // Windows will not remove a folder that still has an open listing
    return ::RemoveDirectoryW(folder.c_str()) ? 1 : 0;
}

}  // namespace tree

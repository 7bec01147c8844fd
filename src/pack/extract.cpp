#include "pack/extract.h"

#include <winternl.h>

#include <cstring>
#include <map>
#include <vector>

#include "pack/payload.h"
#include "pack/sha256.h"
#include "rules/folders.h"
#include "win/environment.h"
#include "win/handles.h"
#include "win/nt_file.h"
#include "win/security.h"
#include "rules/wstr.h"
#include "win/syslib.h"
#include "win/thread.h"

// Everything is made through handles: the folder below the temporary folder is created fresh
// (never opened if it exists, link or not), each sub-folder and file relative to the held
// handle of its parent, and the roll-back deletes through the handles it holds. No path is
// looked up again after the temporary folder is opened, so nothing put in place of a folder
// meanwhile is ever written into or removed.
namespace pack {
namespace {

constexpr DWORD kWriteChunk = 1 << 20;

// A held folder: filled and, on roll-back, deleted by us; without delete sharing nobody can
// rename it away (and put a link in its place) while we write below it.
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY |
                                      FILE_TRAVERSE | FILE_READ_ATTRIBUTES | DELETE;

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                             static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          &wide[0], length);
    return wide;
}

// Creates `name` in the folder `parent`: FILE_CREATE fails on anything already there, a
// planted link included, so we only ever write into what we made.
win::EntryResult CreateIn(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share,
                          ULONG options, PSECURITY_DESCRIPTOR security, win::File* made)
{
    return win::OpenInFolder(parent, name, {access, share, FILE_CREATE, options}, made, security);
}

bool MarkForDeletion(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return win::Kernel32().SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                                      sizeof disposition) != 0;
}

// A temporary name no payload entry can have: payload names never look like short aliases.
std::wstring PartialName(size_t index) { return L"mvpk~" + rules::Decimal(index) + L".tmp"; }

enum class Made { Done, Exists, Failed };

// The payload's digest, made on a thread of its own while the files are written: both read
// the same mapped bytes, so the writes never wait for the hash (one pass after the other cost
// a third more than a plain copy of one large file). Joined before the bytes can go.
class ParallelDigest {
public:
    ParallelDigest(const unsigned char* payload, size_t length)
        : m_payload(payload), m_length(length), m_thread(false)
    {
        if (!m_thread.Start<ParallelDigest, &ParallelDigest::Digest>(this)) Digest();
    }
    ParallelDigest(const ParallelDigest&) = delete;
    ParallelDigest& operator=(const ParallelDigest&) = delete;

    bool Matches()
    {
        // The extractor has no window: a plain wait.
        m_thread.Join();
        return std::memcmp(m_digest, m_payload + pack::kHashOffset, sizeof m_digest) == 0;
    }

private:
    void Digest()
    {
        pack::Sha256 hash;
        hash.Update(m_payload + pack::kHashedFrom, m_length - pack::kHashedFrom);
        hash.Finish(m_digest);
    }

    const unsigned char* m_payload;
    size_t m_length;
    unsigned char m_digest[pack::Sha256::kDigestSize] = {};
    // Last, so that it is joined (by its destructor) before the rest goes.
    win::Thread m_thread;
};

// One run's writes: folders under their real names, files under temporary names until the
// digest has matched. Undone through the held handles unless the run completes.
class Extraction {
public:
    explicit Extraction(const unsigned char* payload) : m_payload(payload) {}
    ~Extraction()
    {
        if (!m_complete) RollBack();
    }
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    Made MakeTop(HANDLE temp, const std::wstring& name, PSECURITY_DESCRIPTOR security);
    bool MakeFolder(size_t parent, const std::wstring& name, size_t* index);
    bool WriteFile(size_t parent, const std::wstring& name, size_t index, const pack::Entry& entry);
    bool Publish();
    void Complete() { m_complete = true; }

private:
    struct Pending {
        win::File handle;
        size_t folder;
        std::wstring name;
    };

    bool WriteContent(HANDLE file, const pack::Entry& entry);
    void RollBack();

    const unsigned char* m_payload;
    std::vector<win::File> m_folders;  // the top folder first, each after its parent
    std::vector<Pending> m_files;
    bool m_complete = false;
};

Made Extraction::MakeTop(HANDLE temp, const std::wstring& name, PSECURITY_DESCRIPTOR security)
{
    win::File folder;
    const win::EntryResult made = CreateIn(temp, name, kFolderAccess, win::kHoldSharing,
                                           FILE_DIRECTORY_FILE, security, &folder);
    if (made == win::EntryResult::Exists) return Made::Exists;
    if (made != win::EntryResult::Opened) return Made::Failed;
    m_folders.push_back(std::move(folder));
    return Made::Done;
}

bool Extraction::MakeFolder(size_t parent, const std::wstring& name, size_t* index)
{
    win::File folder;
    if (CreateIn(m_folders[parent].get(), name, kFolderAccess, win::kHoldSharing,
                 FILE_DIRECTORY_FILE, nullptr, &folder) != win::EntryResult::Opened)
        return false;
    *index = m_folders.size();
    m_folders.push_back(std::move(folder));
    return true;
}

bool Extraction::WriteContent(HANDLE file, const pack::Entry& entry)
{
    const unsigned char* at = m_payload + entry.offset;
    for (uint64_t left = entry.size; left > 0;) {
        const DWORD chunk = left < kWriteChunk ? static_cast<DWORD>(left) : kWriteChunk;
        DWORD written = 0;
        if (!::WriteFile(file, at, chunk, &written, nullptr) || written != chunk) return false;
        at += chunk;
        left -= chunk;
    }
    return true;
}

// The content goes to a temporary name; Publish gives it its real name.
bool Extraction::WriteFile(size_t parent, const std::wstring& name, size_t index,
                           const pack::Entry& entry)
{
    Pending file{win::File(), parent, name};
    if (CreateIn(m_folders[parent].get(), PartialName(index), GENERIC_WRITE | DELETE, 0,
                 FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, nullptr,
                 &file.handle) != win::EntryResult::Opened)
        return false;
    m_files.push_back(std::move(file));
    return WriteContent(m_files.back().handle.get(), entry);
}

bool Extraction::Publish()
{
    for (const Pending& file : m_files)
        if (!win::RenameInFolder(file.handle.get(), m_folders[file.folder].get(), file.name))
            return false;
    return true;
}

// Files first, then folders innermost first: a folder goes only once it is empty.
void Extraction::RollBack()
{
    for (Pending& file : m_files) {
        MarkForDeletion(file.handle.get());
        file.handle.reset();
    }
    for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it) {
        MarkForDeletion(it->get());
        it->reset();
    }
}

// The temporary folder, opened once; everything else is made relative to this handle.
win::File OpenTemporaryFolder(const std::wstring& path)
{
    win::File folder(::CreateFileW(path.c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!folder || !::GetFileInformationByHandle(folder.get(), &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return win::File();
    return folder;
}

}  // namespace

// By Morvane's own rule, so the package unpacks where Morvane looks for it.
std::wstring TemporaryFolder()
{
    return rules::TemporaryFolder(win::EnvironmentVariable(L"TEMP"),
                                  win::EnvironmentVariable(L"TMP"));
}

ExitCode Extract(const unsigned char* payload, size_t length, const std::wstring& temp)
{
    pack::Payload parsed;
    if (!pack::ReadPayload(payload, length, &parsed)) return kBadPayload;

    const std::wstring base = rules::NormaliseFolder(temp);
    const win::File tempFolder =
        base.empty() ? win::File() : OpenTemporaryFolder(rules::JoinPath(base, L""));
    if (!tempFolder) return kNoTempFolder;

    // Every name is made and every path measured before the first write: the tree must stay
    // usable by path (Morvane and the wizard work with MAX_PATH paths).
    const std::wstring folderName = Widen(parsed.folder);
    const std::wstring target = rules::JoinPath(base, folderName);
    std::vector<std::wstring> leaves;
    leaves.reserve(parsed.entries.size());
    for (size_t i = 0; i < parsed.entries.size(); ++i) {
        const std::string& name = parsed.entries[i].name;
        const std::wstring path = rules::JoinPath(target, Widen(name));
        const size_t slash = name.rfind('/');
        leaves.push_back(Widen(slash == std::string::npos ? name : name.substr(slash + 1)));
        if (leaves.back().empty()) return kBadPayload;
        if (path.size() >= MAX_PATH ||
            path.size() - leaves.back().size() + PartialName(i).size() >= MAX_PATH)
            return kWriteFailed;
    }

    // Elevated, the folder is ours alone: the user's other programs may read it, not change it.
    win::AdminOnlyFolder security;
    const bool elevated = win::IsElevated();
    if (elevated && !security.Build()) return kUnexpected;

    ParallelDigest digest(payload, length);  // declared first: joined after the roll-back
    Extraction extraction(payload);
    switch (extraction.MakeTop(tempFolder.get(), folderName, elevated ? security.get() : nullptr)) {
    case Made::Done: break;
    case Made::Exists: return kFolderExists;
    default: return kWriteFailed;
    }
    std::map<std::string, size_t> folders;  // entry name -> its index in the extraction
    for (size_t i = 0; i < parsed.entries.size(); ++i) {
        const pack::Entry& entry = parsed.entries[i];
        const size_t slash = entry.name.rfind('/');
        const size_t parent =
            slash == std::string::npos ? 0 : folders.at(entry.name.substr(0, slash));
        size_t made = 0;
        const bool ok = entry.kind == pack::EntryKind::Folder
                            ? extraction.MakeFolder(parent, leaves[i], &made)
                            : extraction.WriteFile(parent, leaves[i], i, entry);
        if (!ok) return kWriteFailed;
        if (entry.kind == pack::EntryKind::Folder) folders[entry.name] = made;
    }
    if (!digest.Matches()) return kBadDigest;
    if (!extraction.Publish()) return kWriteFailed;
    extraction.Complete();
    return kExtracted;
}

}  // namespace pack

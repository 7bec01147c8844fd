#include "pack/extract.h"

#include <vector>

#include "pack/payload.h"
#include "win/handles.h"

namespace sfx {
namespace {

constexpr DWORD kWriteChunk = 1 << 20;
constexpr int kMaxPartialTries = 100;
// The longest name PartialName makes: "\~mvpk99.tmp".
constexpr size_t kPartialNameLength = 12;

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                             static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                          static_cast<int>(utf8.size()), &wide[0], length);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return wide;
}

std::wstring ReadVariable(const wchar_t* name)
{
    wchar_t value[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

// Opens a folder itself, never what a reparse point leads to, and holds it so that nobody can
// rename or delete it (and put a junction in its place) while we write below it. Invalid
// when the path is not a plain folder.
win::File LockFolder(const std::wstring& path)
{
    win::File folder(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!folder || !::GetFileInformationByHandle(folder.get(), &info)) return win::File();
    const DWORD attributes = info.dwFileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return win::File();
    return folder;
}

// One run's writes, undone unless the run completes.
class Extraction {
public:
    explicit Extraction(const unsigned char* payload) : m_payload(payload) {}
    ~Extraction()
    {
        if (!m_complete) RollBack();
    }
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    bool MakeFolder(const std::wstring& path);
    bool WriteFile(const std::wstring& path, const pack::Entry& entry);
    void Complete() { m_complete = true; }

private:
    bool WriteContent(HANDLE file, const pack::Entry& entry);
    void RollBack();

    const unsigned char* m_payload;
    std::vector<win::File> m_locks;
    std::vector<std::wstring> m_madeFolders;
    std::vector<std::wstring> m_writtenFiles;
    std::wstring m_partial;  // a file still under its temporary name
    bool m_complete = false;
};

bool Extraction::MakeFolder(const std::wstring& path)
{
    if (::CreateDirectoryW(path.c_str(), nullptr)) {
        m_madeFolders.push_back(path);
    } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    win::File lock = LockFolder(path);
    if (!lock) return false;
    m_locks.push_back(std::move(lock));
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

// The content goes to a fresh temporary name beside its place and is renamed over it only
// when complete: the real name never holds half a file. CREATE_NEW never opens an existing
// file or follows a link planted under the temporary name.
bool Extraction::WriteFile(const std::wstring& path, const pack::Entry& entry)
{
    const std::wstring folder = path.substr(0, path.rfind(L'\\'));
    win::File file;
    for (int i = 0; i < kMaxPartialTries && !file; ++i) {
        m_partial = folder + L"\\~mvpk" + std::to_wstring(i) + L".tmp";
        file.reset(::CreateFileW(m_partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (!file) {
        m_partial.clear();
        return false;
    }
    const bool written = WriteContent(file.get(), entry);
    file.reset();
    if (!written || !::MoveFileExW(m_partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        return false;
    m_partial.clear();
    m_writtenFiles.push_back(path);
    return true;
}

void Extraction::RollBack()
{
    if (!m_partial.empty()) ::DeleteFileW(m_partial.c_str());
    for (auto it = m_writtenFiles.rbegin(); it != m_writtenFiles.rend(); ++it)
        ::DeleteFileW(it->c_str());
    m_locks.clear();  // a held folder cannot be removed
    for (auto it = m_madeFolders.rbegin(); it != m_madeFolders.rend(); ++it)
        ::RemoveDirectoryW(it->c_str());
}

}  // namespace

std::wstring TemporaryFolder()
{
    std::wstring temp = ReadVariable(L"TEMP");
    if (temp.empty()) temp = ReadVariable(L"TMP");
    return temp;
}

int Extract(const unsigned char* payload, size_t length, const std::wstring& temp)
{
    pack::Payload parsed;
    if (!pack::ReadPayload(payload, length, &parsed)) return kBadPayload;
    if (!pack::CheckPayloadHash(payload, length)) return kBadDigest;

    std::wstring base = temp;
    while (!base.empty() && base.back() == L'\\') base.pop_back();
    const DWORD attributes = ::GetFileAttributesW((base + L"\\").c_str());
    if (base.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return kNoTempFolder;

    // Every path is built and measured before the first write.
    const std::wstring target = base + L"\\" + Widen(parsed.folder);
    if (target.size() + kPartialNameLength >= MAX_PATH) return kWriteFailed;
    std::vector<std::wstring> paths;
    paths.reserve(parsed.entries.size());
    for (const pack::Entry& entry : parsed.entries) {
        const std::wstring name = Widen(entry.name);
        if (name.empty()) return kBadPayload;
        paths.push_back(target + L"\\" + name);
        const size_t folderLength = paths.back().rfind(L'\\');
        if (paths.back().size() >= MAX_PATH || folderLength + kPartialNameLength >= MAX_PATH)
            return kWriteFailed;
    }

    Extraction extraction(payload);
    if (!extraction.MakeFolder(target)) return kWriteFailed;
    for (size_t i = 0; i < parsed.entries.size(); ++i) {
        const pack::Entry& entry = parsed.entries[i];
        const bool made = entry.kind == pack::EntryKind::Folder
                              ? extraction.MakeFolder(paths[i])
                              : extraction.WriteFile(paths[i], entry);
        if (!made) return kWriteFailed;
    }
    extraction.Complete();
    return kExtracted;
}

}  // namespace sfx

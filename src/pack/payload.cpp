#include "pack/payload.h"

#include <cstring>
#include <set>

#include "pack/name_case.h"
#include "pack/sha256.h"
#include "rules/little_endian.h"
#include "rules/names.h"

namespace pack {
namespace {

const char kMagic[4] = {'M', 'V', 'P', 'K'};

void Put(std::string* out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// "KVWIZA~1.EXE", "PROGRA~1": a tilde and digits end the part before the first dot. Windows
// finds a file under such a short alias as well as under its own name, so a payload name of
// that form could meet another entry of the same payload on disk.
bool LooksLikeShortName(const std::string& level)
{
    const std::string stem = level.substr(0, level.find('.'));
    const size_t tilde = stem.rfind('~');
    if (tilde == std::string::npos || tilde + 1 == stem.size()) return false;
    return stem.find_first_not_of("0123456789", tilde + 1) == std::string::npos;
}

}  // namespace

bool CheckNameLevel(const std::string& name)
{
    std::wstring wide;
    return rules::DecodeUtf8(name, &wide) && rules::IsPlainFileName(wide) &&
           !LooksLikeShortName(name);
}

bool CheckEntryName(const std::string& name)
{
    if (name.empty()) return false;
    size_t start = 0;
    for (;;) {
        const size_t slash = name.find('/', start);
        const size_t end = slash == std::string::npos ? name.size() : slash;
        if (!CheckNameLevel(name.substr(start, end - start))) return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

bool ReadPayload(const unsigned char* bytes, size_t length, Payload* out)
{
    if (length < kHeaderSize || std::memcmp(bytes, kMagic, 4) != 0) return false;
    uint32_t version = 0, folderBytes = 0, entryCount = 0, tableBytes = 0, reserved = 0;
    uint64_t dataBytes = 0;
    if (!rules::ReadLe32(bytes, length, 4, &version) ||
        !rules::ReadLe32(bytes, length, 40, &folderBytes) ||
        !rules::ReadLe32(bytes, length, 44, &entryCount) ||
        !rules::ReadLe32(bytes, length, 48, &tableBytes) ||
        !rules::ReadLe32(bytes, length, 52, &reserved) ||
        !rules::ReadLe64(bytes, length, 56, &dataBytes))
        return false;
    if (version != kVersion || reserved != 0 || folderBytes > kMaxFolderBytes) return false;
    // Each term is below 2^32 except dataBytes, which must fit what is left.
    const uint64_t dataStart = uint64_t{kHeaderSize} + folderBytes + tableBytes;
    if (dataStart > length || dataBytes != length - dataStart) return false;

    Payload payload;
    payload.folder.assign(reinterpret_cast<const char*>(bytes + kHeaderSize), folderBytes);
    if (!CheckNameLevel(payload.folder)) return false;

    const unsigned char* table = bytes + kHeaderSize + folderBytes;
    std::set<std::u16string> keys;  // names as Windows compares them
    std::set<std::string> folders;
    uint64_t at = 0, offset = dataStart;
    for (uint64_t i = 0; i < entryCount; ++i) {
        uint16_t nameBytes = 0;
        uint64_t size = 0;
        if (!rules::ReadLe16(table, tableBytes, at + 2, &nameBytes) ||
            !rules::ReadLe64(table, tableBytes, at + 4, &size))
            return false;
        const unsigned char kind = table[static_cast<size_t>(at)];
        const unsigned char zero = table[static_cast<size_t>(at) + 1];
        at += kEntryHeaderSize;
        if (zero != 0 || tableBytes - at < nameBytes) return false;
        Entry entry;
        entry.name.assign(reinterpret_cast<const char*>(table + at), nameBytes);
        at += nameBytes;
        if (kind == static_cast<unsigned char>(EntryKind::Folder)) {
            if (size != 0) return false;
            entry.kind = EntryKind::Folder;
        } else if (kind == static_cast<unsigned char>(EntryKind::File)) {
            if (size > length - offset) return false;  // past the end of the data
            entry.kind = EntryKind::File;
        } else {
            return false;
        }
        if (!CheckEntryName(entry.name) || !keys.insert(NameKey(entry.name)).second) return false;
        const size_t slash = entry.name.rfind('/');
        if (slash != std::string::npos && folders.count(entry.name.substr(0, slash)) == 0)
            return false;
        if (entry.kind == EntryKind::Folder) folders.insert(entry.name);
        entry.size = size;
        entry.offset = offset;
        offset += size;
        payload.entries.push_back(std::move(entry));
    }
    if (at != tableBytes || offset != length) return false;
    *out = std::move(payload);
    return true;
}

bool CheckPayloadHash(const unsigned char* bytes, size_t length)
{
    if (length < kHeaderSize) return false;
    Sha256 hash;
    hash.Update(bytes + kHashedFrom, length - kHashedFrom);
    unsigned char digest[Sha256::kDigestSize];
    hash.Finish(digest);
    return std::memcmp(digest, bytes + kHashOffset, sizeof(digest)) == 0;
}

std::string EncodeHeader(const std::string& folder, uint32_t entryCount, uint32_t tableBytes,
                         uint64_t dataBytes, const unsigned char* digest)
{
    std::string header(kMagic, 4);
    Put(&header, kVersion, 4);
    header.append(reinterpret_cast<const char*>(digest), Sha256::kDigestSize);
    Put(&header, folder.size(), 4);
    Put(&header, entryCount, 4);
    Put(&header, tableBytes, 4);
    Put(&header, 0, 4);
    Put(&header, dataBytes, 8);
    return header;
}

void AppendEntry(std::string* table, EntryKind kind, const std::string& name, uint64_t size)
{
    table->push_back(static_cast<char>(kind));
    table->push_back(0);
    Put(table, name.size(), 2);
    Put(table, size, 8);
    table->append(name);
}

}  // namespace pack

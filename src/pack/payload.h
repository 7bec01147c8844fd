// The payload a package carries: one folder's tree, described by an entry table and followed by
// the files' contents, with a SHA-256 over everything after the digest. Portable: bytes in,
// no platform call; the extractor and the packer share it.
//
// Layout, little-endian:
//   0  "MVPK"              4  u32 version (1)       8  SHA-256 of bytes [40, end)
//  40  u32 folder bytes   44  u32 entry count     48  u32 table bytes   52  u32 zero
//  56  u64 data bytes     64  folder name (UTF-8), entry table, data
// An entry is u8 kind (1 folder, 2 file), u8 zero, u16 name bytes, u64 size (0 for a folder)
// and the name: UTF-8, relative, '/' between levels. Every parent is listed before its
// children; file contents follow one another in table order. The sizes add up to the payload's
// length exactly, so nothing can hide before, between or after them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pack {

constexpr size_t kHeaderSize = 64;
constexpr size_t kHashOffset = 8;
constexpr size_t kHashedFrom = 40;
constexpr size_t kEntryHeaderSize = 12;
constexpr uint32_t kVersion = 1;
constexpr size_t kMaxFolderBytes = 255;

enum class EntryKind : unsigned char { Folder = 1, File = 2 };

struct Entry {
    EntryKind kind = EntryKind::Folder;
    std::string name;     // UTF-8, '/' between levels, checked by CheckEntryName
    uint64_t size = 0;    // content bytes; 0 for a folder
    uint64_t offset = 0;  // where the content starts in the payload
};

struct Payload {
    std::string folder;  // the one folder the tree unpacks into, below the temporary folder
    std::vector<Entry> entries;
};

// True when `name` is one level of a path that every Windows API takes literally as a name below
// its parent: strict UTF-8 that, as UTF-16, is a plain file name (rules::IsPlainFileName: no
// separator, stream, trailing dot or space, control character or device name), and nothing that
// looks like a short 8.3 alias (a tilde and digits before the extension: "KVWIZA~1.EXE"),
// which could name another entry.
bool CheckNameLevel(const std::string& name);

// True when `name` is a relative path of one or more levels joined by '/', each passing
// CheckNameLevel: no root, no drive, no stream, no "..", no empty level.
bool CheckEntryName(const std::string& name);

// Reads the header and the entry table and checks them against the payload's length: magic
// and version, every name, every parent listed first, no name twice as Windows compares names
// (NameKey: "a.txt" and "A.TXT", a folder "x" and a file "X"), every size within the
// data and the sizes adding up to the length exactly. Does not read the contents or the
// digest (CheckPayloadHash does). True and `out` filled, or false.
bool ReadPayload(const unsigned char* bytes, size_t length, Payload* out);

// True when the payload's SHA-256 field matches the digest of bytes [kHashedFrom, length).
bool CheckPayloadHash(const unsigned char* bytes, size_t length);

// The writer's side. The header with the digest field as given (zeros while it is unknown).
std::string EncodeHeader(const std::string& folder, uint32_t entryCount, uint32_t tableBytes,
                         uint64_t dataBytes, const unsigned char* digest);
// Appends one entry record to a table.
void AppendEntry(std::string* table, EntryKind kind, const std::string& name, uint64_t size);

}  // namespace pack

#include "pack/pe_resource.h"

#include <algorithm>
#include <vector>

namespace pack {
namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSecurityDirectory = 4;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kRcData = 10;
constexpr uint32_t kManifest = 24;
constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr uint32_t kInitializedReadOnly = 0x40000040u;  // CNT_INITIALIZED_DATA | MEM_READ
constexpr size_t kMaxSections = 96;
constexpr uint64_t kPageSize = 0x1000;

uint16_t Read16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void Write16(std::string* s, size_t at, uint32_t v)
{
    (*s)[at] = static_cast<char>(v & 0xFF);
    (*s)[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void Write32(std::string* s, size_t at, uint32_t v)
{
    Write16(s, at, v & 0xFFFF);
    Write16(s, at + 2, v >> 16);
}

uint64_t AlignUp(uint64_t value, uint64_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

struct Section {
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

// The parts of the headers both directions need, read with every offset checked.
struct Headers {
    uint64_t optional = 0;      // file offset of the optional header
    uint64_t directories = 0;   // file offset of the data directories
    uint32_t directoryCount = 0;
    uint64_t sectionTable = 0;  // file offset of the first section header
    uint16_t sectionCount = 0;
    uint32_t sectionAlignment = 0, fileAlignment = 0, sizeOfHeaders = 0;
    std::vector<Section> sections;
};

int ReadHeaders(const unsigned char* image, size_t length, Headers* h)
{
    if (length < 0x40 || image[0] != 'M' || image[1] != 'Z') return 0;
    const uint64_t pe = Read32(image + 0x3C);
    if (pe + 24 > length || image[pe] != 'P' || image[pe + 1] != 'E' || image[pe + 2] != 0 ||
        image[pe + 3] != 0)
        return 0;
    h->sectionCount = Read16(image + pe + 6);
    const uint64_t optionalSize = Read16(image + pe + 20);
    h->optional = pe + 24;
    if (h->sectionCount > kMaxSections || h->optional + optionalSize > length) return 0;
    if (optionalSize < 2) return 0;
    const uint16_t magic = Read16(image + h->optional);
    uint64_t countField = 0;
    if (magic == kPe32Magic) countField = 92;
    else if (magic == kPe32PlusMagic) countField = 108;
    else return 0;
    if (countField + 4 > optionalSize) return 0;
    h->directories = h->optional + countField + 4;
    h->directoryCount = Read32(image + h->optional + countField);
    if (h->directoryCount > 16 || h->directories + 8ull * h->directoryCount >
                                      h->optional + optionalSize)
        return 0;
    h->sectionAlignment = Read32(image + h->optional + 32);
    h->fileAlignment = Read32(image + h->optional + 36);
    h->sizeOfHeaders = Read32(image + h->optional + 60);
    if (h->sectionAlignment == 0 || h->fileAlignment == 0) return 0;
    h->sectionTable = h->optional + optionalSize;
    if (h->sectionTable + kSectionHeaderSize * h->sectionCount > length) return 0;
    h->sections.clear();
    for (uint16_t i = 0; i < h->sectionCount; ++i) {
        const unsigned char* s = image + h->sectionTable + kSectionHeaderSize * i;
        h->sections.push_back({Read32(s + 8), Read32(s + 12), Read32(s + 16), Read32(s + 20)});
    }
    return 1;
}

// Data directory `index` as {rva, size}; {0, 0} when the image has fewer directories.
FileSpan Directory(const unsigned char* image, const Headers& h, uint32_t index)
{
    if (index >= h.directoryCount) return {};
    const unsigned char* d = image + h.directories + 8 * index;
    return {Read32(d), Read32(d + 4)};
}

// File offset of `size` bytes at `rva`, when they lie in one section's raw data.
int RvaToOffset(const Headers& h, uint64_t rva, uint64_t size, size_t length, uint64_t* offset)
{
    for (const Section& s : h.sections) {
        const uint64_t extent = s.rawSize < s.virtualSize || s.virtualSize == 0 ? s.rawSize
                                                                                 : s.virtualSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress > extent) continue;
        const uint64_t inside = rva - s.virtualAddress;
        if (size > extent - inside) continue;
        const uint64_t at = s.rawPointer + inside;
        if (at > length || size > length - at) return 0;
        *offset = at;
        return 1;
    }
    return 0;
}

// The resource directory tables: root -> type -> id -> first language -> data entry.
// Entries hold offsets from the section's start, except the data entry's own RVA.
void PutDirectory(std::string* s, size_t at, uint32_t entries)
{
    Write16(s, at + 14, entries);  // characteristics, time, version, named entries all zero
}

void PutDirectoryEntry(std::string* s, size_t at, uint32_t id, uint32_t offset)
{
    Write32(s, at, id);
    Write32(s, at + 4, offset);
}

}  // namespace

int PlanResourceSection(const unsigned char* stub, size_t length, const std::string& manifest,
                        uint64_t payloadBytes, ResourcePlan* out, std::string* why)
{
    Headers h;
    if (!ReadHeaders(stub, length, &h)) return *why = "not a PE32 or PE32+ image", 0;
    if (Directory(stub, h, kResourceDirectory).length != 0)
        return *why = "the stub already has resources", 0;
    if (Directory(stub, h, kSecurityDirectory).length != 0)
        return *why = "the stub is signed; sign the package after packing", 0;
    if (h.directoryCount <= kResourceDirectory) return *why = "no resource data directory", 0;
    if (Read32(stub + h.optional - 20 + 8) != 0)  // PointerToSymbolTable in the file header
        return *why = "the stub carries COFF symbols; link it stripped", 0;
    if (payloadBytes > kMaxPayloadBytes) return *why = "the folder is larger than 1 GiB", 0;

    uint64_t rawEnd = h.sizeOfHeaders, virtualEnd = h.sizeOfHeaders, firstRaw = length;
    for (const Section& s : h.sections) {
        if (s.rawSize != 0) {
            rawEnd = std::max<uint64_t>(rawEnd, uint64_t{s.rawPointer} + s.rawSize);
            firstRaw = std::min<uint64_t>(firstRaw, s.rawPointer);
        }
        virtualEnd = std::max<uint64_t>(
            virtualEnd, uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize));
    }
    if (rawEnd != length) return *why = "the stub has bytes after its last section", 0;
    const uint64_t newHeader = h.sectionTable + kSectionHeaderSize * h.sectionCount;
    if (newHeader + kSectionHeaderSize > std::min<uint64_t>(h.sizeOfHeaders, firstRaw))
        return *why = "no room for another section header", 0;
    for (uint64_t i = newHeader; i < newHeader + kSectionHeaderSize; ++i)
        if (stub[i] != 0) return *why = "no room for another section header", 0;

    const uint64_t rva = AlignUp(virtualEnd, h.sectionAlignment);
    // Page-aligned in the file too: Wine maps such a section straight from the file, and reads
    // any other into fresh memory, a whole copy of the payload before the first page is used.
    const uint64_t rawPointer = AlignUp(length, std::max<uint64_t>(h.fileAlignment, kPageSize));
    // Tables: root (2 types), two type tables and two id tables (1 entry each), two data entries.
    const size_t tables = 16 + 2 * 8 + 4 * (16 + 8) + 2 * 16;
    const size_t payloadAt = static_cast<size_t>(AlignUp(tables + manifest.size(), 8));
    const uint64_t virtualSize = payloadAt + payloadBytes;
    const uint64_t rawSize = AlignUp(virtualSize, h.fileAlignment);
    const uint64_t imageSize = AlignUp(rva + virtualSize, h.sectionAlignment);
    if (imageSize > 0x7FFF0000u) return *why = "the image would be too large", 0;

    std::string head(reinterpret_cast<const char*>(stub), length);
    head.resize(static_cast<size_t>(rawPointer), '\0');
    const size_t section = static_cast<size_t>(newHeader);
    head.replace(section, 8, std::string(".rsrc\0\0\0", 8));
    Write32(&head, section + 8, static_cast<uint32_t>(virtualSize));
    Write32(&head, section + 12, static_cast<uint32_t>(rva));
    Write32(&head, section + 16, static_cast<uint32_t>(rawSize));
    Write32(&head, section + 20, static_cast<uint32_t>(rawPointer));
    Write32(&head, section + 36, kInitializedReadOnly);
    const size_t optional = static_cast<size_t>(h.optional);
    Write16(&head, optional - 20 + 2, h.sectionCount + 1u);  // NumberOfSections
    Write32(&head, optional + 8, Read32(stub + optional + 8) + static_cast<uint32_t>(rawSize));
    Write32(&head, optional + 56, static_cast<uint32_t>(imageSize));
    // The loader checks the sum only for drivers; a signing tool writes it anew.
    Write32(&head, optional + 64, 0);
    const size_t resourceEntry = static_cast<size_t>(h.directories) + 8 * kResourceDirectory;
    Write32(&head, resourceEntry, static_cast<uint32_t>(rva));
    Write32(&head, resourceEntry + 4, static_cast<uint32_t>(virtualSize));

    std::string dir(payloadAt, '\0');
    const size_t rcType = 32, rcId = 56, manifestType = 80, manifestId = 104;
    const size_t rcData = 128, manifestData = 144, manifestAt = 160;
    PutDirectory(&dir, 0, 2);  // ids in ascending order, as the loader's search expects
    PutDirectoryEntry(&dir, 16, kRcData, kSubdirectory | rcType);
    PutDirectoryEntry(&dir, 24, kManifest, kSubdirectory | manifestType);
    PutDirectory(&dir, rcType, 1);
    PutDirectoryEntry(&dir, rcType + 16, 1, kSubdirectory | rcId);
    PutDirectory(&dir, rcId, 1);
    PutDirectoryEntry(&dir, rcId + 16, 0, rcData);  // language neutral
    PutDirectory(&dir, manifestType, 1);
    PutDirectoryEntry(&dir, manifestType + 16, 1, kSubdirectory | manifestId);
    PutDirectory(&dir, manifestId, 1);
    PutDirectoryEntry(&dir, manifestId + 16, 0, manifestData);
    Write32(&dir, rcData, static_cast<uint32_t>(rva + payloadAt));
    Write32(&dir, rcData + 4, static_cast<uint32_t>(payloadBytes));
    Write32(&dir, manifestData, static_cast<uint32_t>(rva + manifestAt));
    Write32(&dir, manifestData + 4, static_cast<uint32_t>(manifest.size()));
    dir.replace(manifestAt, manifest.size(), manifest);

    out->head = std::move(head);
    out->directory = std::move(dir);
    out->tailPadding = static_cast<size_t>(rawSize - virtualSize);
    return 1;
}

int FindResourceData(const unsigned char* image, size_t length, uint32_t type, uint32_t id,
                     FileSpan* data)
{
    Headers h;
    if (!ReadHeaders(image, length, &h)) return 0;
    const FileSpan resources = Directory(image, h, kResourceDirectory);
    uint64_t base = 0;
    if (resources.length == 0 ||
        !RvaToOffset(h, resources.offset, resources.length, length, &base))
        return 0;
    const uint64_t size = resources.length;
    // One level: the entry with `key` among a table's id entries (after its named ones).
    auto find = [&](uint64_t table, uint32_t key, bool anyKey, uint32_t* target) {
        if (table > size || size - table < 16) return 0;
        const unsigned char* t = image + base + table;
        const uint64_t named = Read16(t + 12), ids = Read16(t + 14);
        if ((named + ids) * 8 > size - table - 16) return 0;
        for (uint64_t i = named; i < named + ids; ++i) {
            const unsigned char* e = t + 16 + 8 * i;
            if (anyKey || Read32(e) == key) return *target = Read32(e + 4), 1;
        }
        return 0;
    };
    uint32_t next = 0;
    if (!find(0, type, false, &next) || !(next & kSubdirectory)) return 0;
    if (!find(next & ~kSubdirectory, id, false, &next) || !(next & kSubdirectory)) return 0;
    if (!find(next & ~kSubdirectory, 0, true, &next) || (next & kSubdirectory)) return 0;
    if (next > size || size - next < 16) return 0;
    const unsigned char* entry = image + base + next;
    uint64_t at = 0;
    const uint64_t dataSize = Read32(entry + 4);
    if (!RvaToOffset(h, Read32(entry), dataSize, length, &at)) return 0;
    *data = {at, dataSize};
    return 1;
}

}  // namespace pack

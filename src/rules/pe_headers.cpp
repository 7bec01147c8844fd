#include "rules/pe_headers.h"

#include <utility>

#include "rules/little_endian.h"

namespace rules {
namespace {

constexpr uint64_t kNewHeaderField = 0x3C;  // e_lfanew, the signature's offset
constexpr uint64_t kDosHeaderSize = 0x40;
constexpr uint64_t kFileHeaderSize = 20;

}  // namespace

bool FindPeSignature(const unsigned char* image, size_t length, uint64_t* signature)
{
    uint32_t at = 0;
    if (length < kDosHeaderSize || image[0] != 'M' || image[1] != 'Z' ||
        !ReadLe32(image, length, kNewHeaderField, &at))
        return false;
    uint32_t magic = 0;
    if (!ReadLe32(image, length, at, &magic) || magic != 0x00004550u)  // "PE\0\0"
        return false;
    *signature = at;
    return true;
}

bool ReadPeHeaders(const unsigned char* image, size_t length, PeHeaders* out)
{
    PeHeaders h;
    if (!FindPeSignature(image, length, &h.signature)) return false;
    h.fileHeader = h.signature + 4;
    h.optional = h.fileHeader + kFileHeaderSize;
    uint16_t optionalSize = 0, magic = 0;
    if (!ReadLe16(image, length, h.fileHeader + 2, &h.sectionCount) ||
        !ReadLe16(image, length, h.fileHeader + 16, &optionalSize) ||
        !ReadLe16(image, length, h.optional, &magic))
        return false;
    h.optionalSize = optionalSize;
    if (h.optional + h.optionalSize > length) return false;
    if (magic != kPe32Magic && magic != kPe32PlusMagic) return false;
    h.plus = magic == kPe32PlusMagic;
    const uint64_t countField = h.optional + (h.plus ? 108 : 92);
    h.directories = countField + 4;
    const uint64_t optionalEnd = h.optional + h.optionalSize;
    if (h.directories > optionalEnd || !ReadLe32(image, length, countField, &h.directoryCount) ||
        h.directoryCount > kMaxPeDirectories ||
        h.directories + 8ull * h.directoryCount > optionalEnd)
        return false;
    h.sectionTable = optionalEnd;
    *out = h;
    return true;
}

PeDirectory ReadPeDirectory(const unsigned char* image, size_t length, const PeHeaders& headers,
                            uint32_t index)
{
    PeDirectory directory;
    const uint64_t at = headers.directories + 8ull * index;
    if (index >= headers.directoryCount || !ReadLe32(image, length, at, &directory.address) ||
        !ReadLe32(image, length, at + 4, &directory.size))
        return PeDirectory{};
    return directory;
}

bool ReadPeSections(const unsigned char* image, size_t length, const PeHeaders& headers,
                    std::vector<PeSection>* out)
{
    if (headers.sectionCount > kMaxPeSections ||
        headers.sectionTable + kPeSectionHeaderSize * headers.sectionCount > length)
        return false;
    std::vector<PeSection> sections(headers.sectionCount);
    for (uint16_t i = 0; i < headers.sectionCount; ++i) {
        const uint64_t at = headers.sectionTable + kPeSectionHeaderSize * i;
        PeSection& s = sections[i];
        if (!ReadLe32(image, length, at + 8, &s.virtualSize) ||
            !ReadLe32(image, length, at + 12, &s.virtualAddress) ||
            !ReadLe32(image, length, at + 16, &s.rawSize) ||
            !ReadLe32(image, length, at + 20, &s.rawPointer))
            return false;
    }
    *out = std::move(sections);
    return true;
}

namespace {

constexpr uint32_t kSubdirectory = 0x80000000u;

// File offset of `size` bytes at `rva`, when they lie in one section's raw data.
bool RvaToOffset(const std::vector<PeSection>& sections, uint64_t rva, uint64_t size, size_t length,
                 uint64_t* offset)
{
    for (const PeSection& s : sections) {
        const uint64_t extent =
            s.rawSize < s.virtualSize || s.virtualSize == 0 ? s.rawSize : s.virtualSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress > extent) continue;
        const uint64_t inside = rva - s.virtualAddress;
        if (size > extent - inside) continue;
        const uint64_t at = s.rawPointer + inside;
        if (at > length || size > length - at) return false;
        *offset = at;
        return true;
    }
    return false;
}

}  // namespace

bool FindPeResource(const unsigned char* image, size_t length, uint32_t type, uint32_t id,
                    PeSpan* data)
{
    PeHeaders h;
    std::vector<PeSection> sections;
    if (!ReadPeHeaders(image, length, &h) || !ReadPeSections(image, length, h, &sections))
        return false;
    const PeDirectory resources = ReadPeDirectory(image, length, h, kPeResourceDirectory);
    uint64_t base = 0;
    if (resources.size == 0 ||
        !RvaToOffset(sections, resources.address, resources.size, length, &base))
        return false;
    // RvaToOffset put the whole directory inside the image.
    const unsigned char* block = image + base;
    const size_t size = static_cast<size_t>(resources.size);
    // One level: the entry with `key` among a table's id entries (after its named ones).
    auto find = [&](uint64_t table, uint32_t key, bool anyKey, uint32_t* target) {
        uint16_t named = 0, ids = 0;
        if (!ReadLe16(block, size, table + 12, &named) ||
            !ReadLe16(block, size, table + 14, &ids) ||
            (uint64_t{named} + ids) * 8 > size - table - 16)
            return false;
        for (uint64_t i = named; i < uint64_t{named} + ids; ++i) {
            uint32_t entryKey = 0, value = 0;
            if (!ReadLe32(block, size, table + 16 + 8 * i, &entryKey) ||
                !ReadLe32(block, size, table + 20 + 8 * i, &value))
                return false;
            if (anyKey || entryKey == key) return *target = value, true;
        }
        return false;
    };
    uint32_t next = 0;
    if (!find(0, type, false, &next) || !(next & kSubdirectory)) return false;
    if (!find(next & ~kSubdirectory, id, false, &next) || !(next & kSubdirectory)) return false;
    if (!find(next & ~kSubdirectory, 0, true, &next) || (next & kSubdirectory)) return false;
    uint32_t dataRva = 0, dataSize = 0;
    if (next > size || size - next < 16 || !ReadLe32(block, size, next, &dataRva) ||
        !ReadLe32(block, size, next + 4, &dataSize))
        return false;
    uint64_t at = 0;
    if (!RvaToOffset(sections, dataRva, dataSize, length, &at)) return false;
    *data = {at, dataSize};
    return true;
}

}  // namespace rules

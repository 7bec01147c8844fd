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
    if (h.directories > optionalEnd ||
        !ReadLe32(image, length, countField, &h.directoryCount) ||
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

}  // namespace rules

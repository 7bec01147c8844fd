#include "pack/pe_resource.h"

#include <algorithm>
#include <vector>

#include "rules/little_endian.h"
#include "rules/package_record.h"
#include "rules/pe_headers.h"

namespace pack {
namespace {

constexpr uint32_t kRcData = rules::kPeRcData;
constexpr uint32_t kManifest = rules::kPeManifest;
constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr uint32_t kInitializedReadOnly = 0x40000040u;  // CNT_INITIALIZED_DATA | MEM_READ
constexpr uint64_t kPageSize = 0x1000;
constexpr size_t kSectionHeaderSize = rules::kPeSectionHeaderSize;

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

using rules::PeSection;

// The headers both directions need: the walk's result and what the packer lays out by.
struct Headers : rules::PeHeaders {
    uint32_t sectionAlignment = 0, fileAlignment = 0, sizeOfHeaders = 0;
    std::vector<PeSection> sections;
};

bool ReadHeaders(const unsigned char* image, size_t length, Headers* h)
{
    if (!rules::ReadPeHeaders(image, length, h) ||
        !rules::ReadPeSections(image, length, *h, &h->sections))
        return false;
    // The same offsets in PE32 and PE32+, well inside the optional header the walk checked.
    if (!rules::ReadLe32(image, length, h->optional + 32, &h->sectionAlignment) ||
        !rules::ReadLe32(image, length, h->optional + 36, &h->fileAlignment) ||
        !rules::ReadLe32(image, length, h->optional + 60, &h->sizeOfHeaders))
        return false;
    return h->sectionAlignment != 0 && h->fileAlignment != 0;
}

// Data directory `index`; {0, 0} when the image has fewer directories.
uint32_t DirectorySize(const unsigned char* image, size_t length, const Headers& h, uint32_t index)
{
    return rules::ReadPeDirectory(image, length, h, index).size;
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

PackProblem PlanResourceSection(const unsigned char* stub, size_t length,
                                const std::string& manifest, const std::string& record,
                                uint64_t payloadBytes, ResourcePlan* out)
{
    Headers h;
    if (!ReadHeaders(stub, length, &h)) return PackProblem::NotPeImage;
    if (DirectorySize(stub, length, h, rules::kPeResourceDirectory) != 0)
        return PackProblem::StubHasResources;
    if (DirectorySize(stub, length, h, rules::kPeSecurityDirectory) != 0)
        return PackProblem::StubIsSigned;
    if (h.directoryCount <= rules::kPeResourceDirectory) return PackProblem::NoResourceDirectory;
    uint32_t symbolTable = 0, initializedData = 0;
    if (!rules::ReadLe32(stub, length, h.fileHeader + 8, &symbolTable) ||
        !rules::ReadLe32(stub, length, h.optional + 8, &initializedData))
        return PackProblem::NotPeImage;
    if (symbolTable != 0) return PackProblem::StubHasSymbols;
    if (payloadBytes > kMaxPayloadBytes) return PackProblem::PayloadTooLarge;

    uint64_t rawEnd = h.sizeOfHeaders, virtualEnd = h.sizeOfHeaders, firstRaw = length;
    for (const PeSection& s : h.sections) {
        if (s.rawSize != 0) {
            rawEnd = std::max<uint64_t>(rawEnd, uint64_t{s.rawPointer} + s.rawSize);
            firstRaw = std::min<uint64_t>(firstRaw, s.rawPointer);
        }
        virtualEnd = std::max<uint64_t>(
            virtualEnd, uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize));
    }
    if (rawEnd != length) return PackProblem::BytesAfterLastSection;
    const uint64_t newHeader = h.sectionTable + kSectionHeaderSize * h.sectionCount;
    if (newHeader + kSectionHeaderSize > std::min<uint64_t>(h.sizeOfHeaders, firstRaw))
        return PackProblem::NoRoomForSection;
    for (uint64_t i = newHeader; i < newHeader + kSectionHeaderSize; ++i)
        if (stub[i] != 0) return PackProblem::NoRoomForSection;

    const uint64_t rva = AlignUp(virtualEnd, h.sectionAlignment);
    // Page-aligned in the file too: Wine maps such a section straight from the file, and reads
    // any other into fresh memory, a whole copy of the payload before the first page is used.
    const uint64_t rawPointer = AlignUp(length, std::max<uint64_t>(h.fileAlignment, kPageSize));
    // Tables: the root (2 types); RT_RCDATA's type table (2 ids) and its two id tables;
    // RT_MANIFEST's type and id tables (1 entry each); three data entries. The manifest and
    // the record follow them, then the payload.
    const size_t rcType = 32, payloadId = 64, recordId = 88, manifestType = 112;
    const size_t manifestId = 136, payloadData = 160, recordData = 176, manifestData = 192;
    const size_t manifestAt = 208, recordAt = manifestAt + manifest.size();
    const size_t payloadAt = static_cast<size_t>(AlignUp(recordAt + record.size(), 8));
    const uint64_t virtualSize = payloadAt + payloadBytes;
    const uint64_t rawSize = AlignUp(virtualSize, h.fileAlignment);
    const uint64_t imageSize = AlignUp(rva + virtualSize, h.sectionAlignment);
    if (imageSize > 0x7FFF0000u) return PackProblem::ImageTooLarge;

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
    Write16(&head, static_cast<size_t>(h.fileHeader) + 2, h.sectionCount + 1u);  // NumberOfSections
    Write32(&head, optional + 8, initializedData + static_cast<uint32_t>(rawSize));
    Write32(&head, optional + 56, static_cast<uint32_t>(imageSize));
    // The loader checks the sum only for drivers; a signing tool writes it anew.
    Write32(&head, optional + 64, 0);
    const size_t resourceEntry =
        static_cast<size_t>(h.directories) + 8 * rules::kPeResourceDirectory;
    Write32(&head, resourceEntry, static_cast<uint32_t>(rva));
    Write32(&head, resourceEntry + 4, static_cast<uint32_t>(virtualSize));

    std::string dir(payloadAt, '\0');
    PutDirectory(&dir, 0, 2);  // ids in ascending order, as the loader's search expects
    PutDirectoryEntry(&dir, 16, kRcData, kSubdirectory | rcType);
    PutDirectoryEntry(&dir, 24, kManifest, kSubdirectory | manifestType);
    PutDirectory(&dir, rcType, 2);
    PutDirectoryEntry(&dir, rcType + 16, 1, kSubdirectory | payloadId);
    PutDirectoryEntry(&dir, rcType + 24, rules::kPackageRecordId, kSubdirectory | recordId);
    PutDirectory(&dir, payloadId, 1);
    PutDirectoryEntry(&dir, payloadId + 16, 0, payloadData);  // language neutral
    PutDirectory(&dir, recordId, 1);
    PutDirectoryEntry(&dir, recordId + 16, 0, recordData);
    PutDirectory(&dir, manifestType, 1);
    PutDirectoryEntry(&dir, manifestType + 16, 1, kSubdirectory | manifestId);
    PutDirectory(&dir, manifestId, 1);
    PutDirectoryEntry(&dir, manifestId + 16, 0, manifestData);
    Write32(&dir, payloadData, static_cast<uint32_t>(rva + payloadAt));
    Write32(&dir, payloadData + 4, static_cast<uint32_t>(payloadBytes));
    Write32(&dir, recordData, static_cast<uint32_t>(rva + recordAt));
    Write32(&dir, recordData + 4, static_cast<uint32_t>(record.size()));
    Write32(&dir, manifestData, static_cast<uint32_t>(rva + manifestAt));
    Write32(&dir, manifestData + 4, static_cast<uint32_t>(manifest.size()));
    dir.replace(manifestAt, manifest.size(), manifest);
    dir.replace(recordAt, record.size(), record);

    out->head = std::move(head);
    out->directory = std::move(dir);
    out->tailPadding = static_cast<size_t>(rawSize - virtualSize);
    return PackProblem::None;
}

}  // namespace pack

// The one walk through a PE image's headers: DOS header, "PE\0\0" signature, file header,
// optional header (PE32 or PE32+), data directories and section table, every offset checked
// against the bytes at hand. The certificate check and the resource packer both start here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rules {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kMaxPeDirectories = 16;
constexpr size_t kPeSectionHeaderSize = 40;
// The most sections a Windows loader takes.
constexpr uint16_t kMaxPeSections = 96;
// Data directory indexes.
constexpr uint32_t kPeResourceDirectory = 2;
constexpr uint32_t kPeSecurityDirectory = 4;

struct PeHeaders {
    uint64_t signature = 0;     // file offset of "PE\0\0"
    uint64_t fileHeader = 0;    // of the file header, right after the signature
    uint64_t optional = 0;      // of the optional header, right after the file header
    uint64_t optionalSize = 0;  // as the file header gives it
    bool plus = false;          // PE32+ (64-bit) rather than PE32
    uint64_t directories = 0;   // of the first data directory
    uint32_t directoryCount = 0;
    uint64_t sectionTable = 0;  // of the first section header, after the optional header
    uint16_t sectionCount = 0;
};

// A data directory: an RVA and a size, except the security directory's file offset and size.
struct PeDirectory {
    uint32_t address = 0;
    uint32_t size = 0;
};

struct PeSection {
    uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
};

// True when `image` starts with "MZ" and holds, where the DOS header points, the "PE\0\0"
// signature the loader looks for; `signature` is then its offset.
bool FindPeSignature(const unsigned char* image, size_t length, uint64_t* signature);

// True when the first `length` bytes hold the headers of a PE32 or PE32+ image up to the end
// of its optional header: the signature, the file header, an optional header of a known magic
// that fits, and at most kMaxPeDirectories data directories inside it. The section table is
// not looked at (ReadPeSections does).
bool ReadPeHeaders(const unsigned char* image, size_t length, PeHeaders* out);

// Data directory `index`; {0, 0} when the image has fewer.
PeDirectory ReadPeDirectory(const unsigned char* image, size_t length, const PeHeaders& headers,
                            uint32_t index);

// The section table: true when it holds at most kMaxPeSections headers, all inside `length`.
bool ReadPeSections(const unsigned char* image, size_t length, const PeHeaders& headers,
                    std::vector<PeSection>* out);

// Resource types.
constexpr uint32_t kPeRcData = 10;
constexpr uint32_t kPeManifest = 24;

struct PeSpan {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// Finds resource `type`/`id` (first language) in an image file the way the loader resolves
// it: resource directory from the data directory, RVAs through the section table, every
// offset bounds-checked. True with its place in the file, else false.
bool FindPeResource(const unsigned char* image, size_t length, uint32_t type, uint32_t id,
                    PeSpan* data);

}  // namespace rules

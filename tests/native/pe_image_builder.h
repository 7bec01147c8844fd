// Small PE images for the packer's tests: headers, one section, nothing else.
#pragma once
#include <cstdint>
#include <string>

namespace testimage {

// Resource types: RT_RCDATA (the payload and the package record) and RT_MANIFEST.
constexpr uint32_t kRcData = 10, kManifest = 24;

struct ImageOptions {
    bool plus = false;  // PE32+ instead of PE32
    uint32_t sizeOfHeaders = 0x200;
    uint32_t resourceRva = 0;     // a resource directory already there
    uint32_t securityOffset = 0;  // a certificate table already there
    uint32_t symbolTable = 0;     // COFF symbols
    uint16_t sections = 1;        // each 0x200 bytes of raw data
};

inline void Put(std::string* s, size_t at, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) (*s)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// MZ at 0, PE header at 0x40, file alignment 0x200, section alignment 0x1000.
inline std::string MinimalImage(const ImageOptions& o = {})
{
    const uint32_t rawPerSection = 0x200;
    std::string image(o.sizeOfHeaders + rawPerSection * o.sections, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Put(&image, 0x3C, 0x40, 4);
    image.replace(0x40, 4, std::string("PE\0\0", 4));
    const size_t file = 0x44, optional = file + 20;
    const uint32_t optionalSize = o.plus ? 240 : 224;
    Put(&image, file, o.plus ? 0x8664 : 0x14C, 2);
    Put(&image, file + 2, o.sections, 2);
    Put(&image, file + 8, o.symbolTable, 4);
    Put(&image, file + 16, optionalSize, 2);
    Put(&image, optional, o.plus ? 0x20B : 0x10B, 2);
    Put(&image, optional + 32, 0x1000, 4);
    Put(&image, optional + 36, 0x200, 4);
    Put(&image, optional + 56, 0x1000 * (o.sections + 1), 4);
    Put(&image, optional + 60, o.sizeOfHeaders, 4);
    const size_t count = optional + (o.plus ? 108 : 92), directories = count + 4;
    Put(&image, count, 16, 4);
    if (o.resourceRva)
        Put(&image, directories + 16, o.resourceRva, 4), Put(&image, directories + 20, 0x10, 4);
    if (o.securityOffset)
        Put(&image, directories + 32, o.securityOffset, 4), Put(&image, directories + 36, 0x10, 4);
    const size_t table = optional + optionalSize;
    for (uint16_t i = 0; i < o.sections; ++i) {
        const size_t h = table + 40 * i;
        image.replace(h, 5, ".text");
        Put(&image, h + 8, 0x100, 4);
        Put(&image, h + 12, 0x1000 * (i + 1), 4);
        Put(&image, h + 16, rawPerSection, 4);
        Put(&image, h + 20, o.sizeOfHeaders + rawPerSection * i, 4);
        Put(&image, h + 36, 0x60000020, 4);
        image[o.sizeOfHeaders + rawPerSection * i] = static_cast<char>(0xC3);
    }
    return image;
}

}  // namespace testimage

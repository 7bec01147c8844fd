#include "sys/pe_certificate.h"

namespace pe {
namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kPkcsSignedData = 0x0002;
constexpr size_t kEntryHeader = 8;  // dwLength, wRevision, wCertificateType

uint16_t Read16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t RoundUpTo8(uint64_t value) { return (value + 7) & ~uint64_t{7}; }

// Total size (header and contents) of the DER SEQUENCE at `p`, or 0 when it is not one
// or does not fit in `length`. Only definite lengths: Authenticode blobs are DER.
uint64_t DerSequenceSize(const unsigned char* p, size_t length)
{
    if (length < 2 || p[0] != 0x30) return 0;
    uint64_t header = 2;
    uint64_t content = p[1];
    if (p[1] & 0x80) {
        const size_t count = p[1] & 0x7F;
        if (count == 0 || count > 4 || length < 2 + count) return 0;
        content = 0;
        for (size_t i = 0; i < count; ++i) content = (content << 8) | p[2 + i];
        header += count;
    }
    return header + content <= length ? header + content : 0;
}

}  // namespace

int IsPeImage(const unsigned char* head, size_t length)
{
    if (length > kHeadBytes) length = kHeadBytes;
    if (length < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
    const uint64_t pe = Read32(head + 0x3C);
    if (pe + 4 > length) return 0;
    return head[pe] == 'P' && head[pe + 1] == 'E' && head[pe + 2] == 0 && head[pe + 3] == 0;
}

int FindCertificateTable(const unsigned char* head, size_t length, Span* table)
{
    if (length > kHeadBytes) length = kHeadBytes;
    if (!IsPeImage(head, length)) return 0;
    const uint64_t pe = Read32(head + 0x3C);
    const uint64_t optional = pe + 24;  // "PE\0\0" and the file header
    if (optional + 2 > length) return 0;
    const uint64_t optionalSize = Read16(head + pe + 20);
    const uint16_t magic = Read16(head + optional);
    uint64_t countField = 0;
    if (magic == kPe32Magic) countField = 92;
    else if (magic == kPe32PlusMagic) countField = 108;
    else return 0;
    const uint64_t directories = countField + 4;
    const uint64_t entry = directories + kSecurityDirectory * 8;
    if (entry + 8 > optionalSize || optional + optionalSize > length) return 0;
    if (Read32(head + optional + countField) <= kSecurityDirectory) {
        *table = Span{};  // no security directory at all: unsigned
        return 1;
    }
    table->offset = Read32(head + optional + entry);
    table->length = Read32(head + optional + entry + 4);
    if (table->offset == 0 || table->length == 0) *table = Span{};
    // A table inside the headers would overlap what the image hash covers.
    if (table->length != 0 && table->offset < optional + optionalSize) return 0;
    return 1;
}

int CheckCertificateTable(const Span& table, uint64_t fileSize, const unsigned char* bytes,
                          size_t length, Span* pkcs7)
{
    if (table.length == 0 || table.length > kMaxTableBytes || length != table.length) return 0;
    if (uint64_t{table.offset} + table.length != fileSize) return 0;
    if (length < kEntryHeader) return 0;
    const uint64_t entryLength = Read32(bytes);
    if (entryLength < kEntryHeader || entryLength > length) return 0;
    if (Read16(bytes + 4) != kCertificateRevision || Read16(bytes + 6) != kPkcsSignedData)
        return 0;
    const uint64_t blob = DerSequenceSize(bytes + kEntryHeader, entryLength - kEntryHeader);
    if (blob == 0) return 0;
    const uint64_t used = kEntryHeader + blob;
    // One entry, its blob, then only alignment: no second entry and no hidden bytes.
    if (length != RoundUpTo8(used)) return 0;
    for (size_t i = used; i < length; ++i) {
        if (bytes[i] != 0) return 0;
    }
    pkcs7->offset = static_cast<uint32_t>(kEntryHeader);
    pkcs7->length = static_cast<uint32_t>(blob);
    return 1;
}

int CheckSignedImage(const unsigned char* bytes, size_t length, Span* pkcs7)
{
    Span table;
    if (!FindCertificateTable(bytes, length, &table) || table.length == 0) return 0;
    if (uint64_t{table.offset} + table.length > length) return 0;
    Span inTable;
    if (!CheckCertificateTable(table, length, bytes + table.offset, table.length, &inTable))
        return 0;
    pkcs7->offset = table.offset + inTable.offset;
    pkcs7->length = inTable.length;
    return 1;
}

}  // namespace pe

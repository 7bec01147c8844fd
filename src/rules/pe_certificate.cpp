#include "rules/pe_certificate.h"

#include "rules/little_endian.h"
#include "rules/pe_headers.h"

namespace rules {
namespace {

constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kPkcsSignedData = 0x0002;
constexpr size_t kEntryHeader = 8;  // dwLength, wRevision, wCertificateType

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

bool IsPeImage(const unsigned char* head, size_t length)
{
    uint64_t signature = 0;
    return rules::FindPeSignature(head, length > kPeHeadBytes ? kPeHeadBytes : length, &signature);
}

bool FindCertificateTable(const unsigned char* head, size_t length, CertificateSpan* table)
{
    if (length > kPeHeadBytes) length = kPeHeadBytes;
    rules::PeHeaders headers;
    if (!rules::ReadPeHeaders(head, length, &headers)) return false;
    const rules::PeDirectory security =
        rules::ReadPeDirectory(head, length, headers, rules::kPeSecurityDirectory);
    table->offset = security.address;
    table->length = security.size;
    // No security directory, or an empty one: unsigned.
    if (table->offset == 0 || table->length == 0) *table = CertificateSpan{};
    // A table inside the headers would overlap what the image hash covers.
    if (table->length != 0 && table->offset < headers.optional + headers.optionalSize) return false;
    return true;
}

bool CheckCertificateTable(const CertificateSpan& table, uint64_t fileSize,
                           const unsigned char* bytes, size_t length, CertificateSpan* pkcs7)
{
    if (table.length == 0 || table.length > kMaxCertificateTableBytes || length != table.length)
        return false;
    if (uint64_t{table.offset} + table.length != fileSize) return false;
    uint32_t entryLength = 0;
    uint16_t revision = 0, type = 0;
    if (!rules::ReadLe32(bytes, length, 0, &entryLength) ||
        !rules::ReadLe16(bytes, length, 4, &revision) || !rules::ReadLe16(bytes, length, 6, &type))
        return false;
    if (entryLength < kEntryHeader || entryLength > length) return false;
    if (revision != kCertificateRevision || type != kPkcsSignedData) return false;
    const uint64_t blob = DerSequenceSize(bytes + kEntryHeader, entryLength - kEntryHeader);
    if (blob == 0) return false;
    const uint64_t used = kEntryHeader + blob;
    // One entry, its blob, then only alignment: no second entry and no hidden bytes.
    if (length != RoundUpTo8(used)) return false;
    for (size_t i = used; i < length; ++i) {
        if (bytes[i] != 0) return false;
    }
    pkcs7->offset = static_cast<uint32_t>(kEntryHeader);
    pkcs7->length = static_cast<uint32_t>(blob);
    return true;
}

bool CheckSignedImage(const unsigned char* bytes, size_t length, CertificateSpan* pkcs7)
{
    CertificateSpan table;
    if (!FindCertificateTable(bytes, length, &table) || table.length == 0) return false;
    if (uint64_t{table.offset} + table.length > length) return false;
    CertificateSpan inTable;
    if (!CheckCertificateTable(table, length, bytes + table.offset, table.length, &inTable))
        return false;
    pkcs7->offset = table.offset + inTable.offset;
    pkcs7->length = inTable.length;
    return true;
}

}  // namespace rules

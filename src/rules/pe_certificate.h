// Where a PE image keeps its Authenticode signature, and whether anything hides next to it.
//
// The image hash that a signature covers skips the certificate table, so bytes appended to
// that table (or after it) change nothing the trust provider looks at: a signed file could
// carry a payload its signer never saw. We accept a table only when it ends the file, holds
// exactly one entry, and that entry holds one PKCS#7 blob followed by nothing but zero
// padding to the next multiple of 8. Portable: bytes in, no platform call.
#pragma once
#include <cstddef>
#include <cstdint>

namespace rules {

// How much of the start of a file FindCertificateTable needs at most; headers that do not
// fit in it are refused.
constexpr size_t kPeHeadBytes = 4096;
// The largest certificate table we read; real ones are a few kilobytes.
constexpr uint32_t kMaxCertificateTableBytes = 1u << 20;

struct CertificateSpan {
    uint32_t offset = 0;
    uint32_t length = 0;
};

// True when the first `length` bytes start with "MZ" and hold, where the DOS header points, the
// "PE\0\0" signature the loader looks for: what Windows would run as a PE image, whatever
// the file is called. Only the first kPeHeadBytes are looked at.
bool IsPeImage(const unsigned char* head, size_t length);

// Reads the security data directory of a PE image from its first bytes. True when the headers
// are those of a PE32 or PE32+ image that fit in `length` bytes: `table` is the certificate
// table's file offset and size (both 0 for an unsigned image). False when it is no such
// image.
bool FindCertificateTable(const unsigned char* head, size_t length, CertificateSpan* table);

// Checks a certificate table read from the file (`bytes`, `length` = table->length) against
// the file's size. True when the table ends the file and holds exactly one PKCS#7 signed-data
// entry with only zero padding to 8 after the blob's DER length; `pkcs7` is then the blob's
// place inside the table. False otherwise.
bool CheckCertificateTable(const CertificateSpan& table, uint64_t fileSize,
                           const unsigned char* bytes, size_t length, CertificateSpan* pkcs7);

// Both checks over a whole image in memory. True only for a signed image that passes both;
// `pkcs7` is then the blob's place in the file.
bool CheckSignedImage(const unsigned char* bytes, size_t length, CertificateSpan* pkcs7);

}  // namespace rules

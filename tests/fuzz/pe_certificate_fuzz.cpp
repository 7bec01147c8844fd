// Feeds arbitrary bytes to the PE certificate-table check; ASan and UBSan report any read
// outside the input. An image the check accepts must keep its promise: the signature blob
// lies inside the input, is a DER SEQUENCE, and nothing but fewer than 8 zero bytes of
// padding follows it to the end of the file; and the package check, reading the same bytes,
// takes the image for a PE, so the certificate-table check is the one it runs.
// Seeds: tests/fuzz/make_pe_seeds.py writes small signed and unsigned images at build time.
#include "rules/pe_certificate.h"
#include "sys/trust_rules.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    rules::CertificateSpan blob;
    if (!rules::CheckSignedImage(data, size, &blob)) return 0;
    if (sys::KindOfContent(data, size) != sys::PackageKind::PortableExecutable) abort();
    const uint64_t end = uint64_t{blob.offset} + blob.length;
    if (blob.length == 0 || end > size || data[blob.offset] != 0x30) abort();
    if (size - end >= 8) abort();
    for (size_t i = static_cast<size_t>(end); i < size; ++i) {
        if (data[i] != 0) abort();
    }
    return 0;
}

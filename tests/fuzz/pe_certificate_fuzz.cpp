// Feeds arbitrary bytes to the PE certificate-table check; ASan and UBSan report any read
// outside the input.
#include "sys/pe_certificate.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    pe::Span blob;
    if (pe::CheckSignedImage(data, size, &blob)) {
        if (uint64_t{blob.offset} + blob.length > size || data[blob.offset] != 0x30) abort();
    }
    return 0;
}

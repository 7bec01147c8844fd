// Feeds arbitrary bytes to the PE certificate-table check; ASan and UBSan report any read
// outside the input.
//
// The parser is compiled into this target (not taken from the library) so that libFuzzer's
// coverage instrumentation reaches it.
#include "sys/pe_certificate.cpp"

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

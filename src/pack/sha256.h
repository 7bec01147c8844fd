// SHA-256 (FIPS 180-4), small and portable: the package carries the digest of its payload and
// the extractor checks it with no crypto library beside it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pack {

class Sha256 {
public:
    static constexpr size_t kDigestSize = 32;

    Sha256();
    void Update(const unsigned char* bytes, size_t length);
    // Writes the digest; the object is spent afterwards.
    void Finish(unsigned char digest[kDigestSize]);

private:
    void Compress(const unsigned char* block);

    uint32_t m_state[8];
    uint64_t m_length = 0;  // bytes hashed so far
    unsigned char m_block[64];
    size_t m_used = 0;  // bytes waiting in m_block
};

}  // namespace pack

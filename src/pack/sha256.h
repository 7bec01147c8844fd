// SHA-256 (FIPS 180-4), small and without a crypto library: the package carries the digest
// of its payload and the extractor checks all of it before it writes a byte, so the digest's
// speed is most of the extraction's cost on a large payload.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pack {

class Sha256 {
public:
    static constexpr size_t kDigestSize = 32;
    // Best uses the processor's SHA instructions where it has them (x86 SHA extensions, about
    // ten times the speed), Portable never does; both give the same digest.
    enum class Engine { Best, Portable };

    explicit Sha256(Engine engine = Engine::Best);
    void Update(const unsigned char* bytes, size_t length);
    // Writes the digest; the object is spent afterwards.
    void Finish(unsigned char digest[kDigestSize]);

private:
    void Compress(const unsigned char* blocks, size_t count);

    uint32_t m_state[8];
    bool m_extensions = false;
    uint64_t m_length = 0;  // bytes hashed so far
    unsigned char m_block[64];
    size_t m_used = 0;  // bytes waiting in m_block
};

}  // namespace pack

#include "pack/sha256.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define MORVANE_SHA_X86 1
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#define MORVANE_SHA_TARGET
#elif defined(__i386__)
// 32-bit Windows keeps the stack 4-byte aligned; SSE spills need 16.
#define MORVANE_SHA_TARGET __attribute__((target("sha,sse4.1"), force_align_arg_pointer))
#include <cpuid.h>
#else
#define MORVANE_SHA_TARGET __attribute__((target("sha,sse4.1")))
#include <cpuid.h>
#endif
#endif

namespace pack {
namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t ReadBig32(const unsigned char* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void WriteBig32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

void CompressPortable(uint32_t state[8], const unsigned char* block)
{
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = ReadBig32(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 =
            h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const uint32_t t2 =
            (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#ifdef MORVANE_SHA_X86
// CPUID leaf 7: SHA in EBX bit 29; leaf 1: SSSE3 (ECX bit 9) and SSE4.1 (ECX bit 19).
bool HasShaExtensions()
{
    unsigned int leaf1[4] = {}, leaf7[4] = {};
#if defined(_MSC_VER)
    int regs[4];
    __cpuid(regs, 0);
    if (regs[0] < 7) return false;
    __cpuid(regs, 1);
    leaf1[2] = static_cast<unsigned int>(regs[2]);
    __cpuidex(regs, 7, 0);
    leaf7[1] = static_cast<unsigned int>(regs[1]);
#else
    if (!__get_cpuid(1, &leaf1[0], &leaf1[1], &leaf1[2], &leaf1[3])) return false;
    if (!__get_cpuid_count(7, 0, &leaf7[0], &leaf7[1], &leaf7[2], &leaf7[3])) return false;
#endif
    return (leaf7[1] & (1u << 29)) && (leaf1[2] & (1u << 9)) && (leaf1[2] & (1u << 19));
}

// The state is kept as ABEF and CDGH, the order the round instruction takes.
MORVANE_SHA_TARGET
void CompressWithExtensions(uint32_t state[8], const unsigned char* data, size_t count)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count > 0; --count, data += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];  // sixteen schedule words, four to a register, reused in turn
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        for (int group = 0; group < 16; ++group) {
            __m128i wk = _mm_add_epi32(
                w[group & 3],
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            wk = _mm_shuffle_epi32(wk, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
            if (group < 12) {
                // W[t..t+3] from W[t-16..t-13], W[t-15..t-12], W[t-7..t-4] and W[t-4..t-1].
                __m128i next = _mm_sha256msg1_epu32(w[group & 3], w[(group + 1) & 3]);
                next =
                    _mm_add_epi32(next, _mm_alignr_epi8(w[(group + 3) & 3], w[(group + 2) & 3], 4));
                w[group & 3] = _mm_sha256msg2_epu32(next, w[(group + 3) & 3]);
            }
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}
#endif

}  // namespace

Sha256::Sha256(Engine engine)
    : m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
#ifdef MORVANE_SHA_X86
    static const bool extensions = HasShaExtensions();
    m_extensions = engine == Engine::Best && extensions;
#else
    (void)engine;
#endif
}

void Sha256::Compress(const unsigned char* blocks, size_t count)
{
#ifdef MORVANE_SHA_X86
    if (m_extensions) return CompressWithExtensions(m_state, blocks, count);
#endif
    for (; count > 0; --count, blocks += 64) CompressPortable(m_state, blocks);
}

void Sha256::Update(const unsigned char* bytes, size_t length)
{
    m_length += length;
    if (m_used > 0) {
        const size_t take = length < 64 - m_used ? length : 64 - m_used;
        std::memcpy(m_block + m_used, bytes, take);
        m_used += take;
        bytes += take;
        length -= take;
        if (m_used < 64) return;
        Compress(m_block, 1);
        m_used = 0;
    }
    // Whole blocks straight from the caller's buffer: a mapped payload is never copied.
    Compress(bytes, length / 64);
    bytes += length / 64 * 64;
    length %= 64;
    if (length > 0) std::memcpy(m_block, bytes, length);
    m_used = length;
}

void Sha256::Finish(unsigned char digest[kDigestSize])
{
    const uint64_t bits = m_length * 8;
    m_block[m_used++] = 0x80;
    if (m_used > 56) {
        std::memset(m_block + m_used, 0, 64 - m_used);
        Compress(m_block, 1);
        m_used = 0;
    }
    std::memset(m_block + m_used, 0, 56 - m_used);
    WriteBig32(m_block + 56, static_cast<uint32_t>(bits >> 32));
    WriteBig32(m_block + 60, static_cast<uint32_t>(bits));
    Compress(m_block, 1);
    for (int i = 0; i < 8; ++i) WriteBig32(digest + 4 * i, m_state[i]);
}

}  // namespace pack

#include "app/rollout_rules.h"

#include "rules/wstr.h"

namespace app {
namespace {

// 64-bit FNV-1a over the text as UTF-16 code units, little-endian, so that Windows (16-bit
// wchar_t) and the native tests (32-bit wchar_t) put a machine in the same bucket.
class Fnv {
public:
    void Byte(unsigned char b)
    {
        m_hash ^= b;
        m_hash *= 0x100000001B3ull;
    }
    void Unit(std::uint32_t unit)
    {
        Byte(static_cast<unsigned char>(unit & 0xFF));
        Byte(static_cast<unsigned char>(unit >> 8));
    }
    void Text(const std::wstring& text)
    {
        for (wchar_t c : text) {
            const auto code = static_cast<std::uint32_t>(c);
            if (code > 0xFFFF) {  // outside the BMP where wchar_t is 32 bits: its surrogates
                Unit(0xD800 + ((code - 0x10000) >> 10));
                Unit(0xDC00 + ((code - 0x10000) & 0x3FF));
            } else {
                Unit(code);
            }
        }
        // A separator no text holds, so ("ab", "c") and ("a", "bc") hash apart.
        Unit(0xFFFF);
    }
    std::uint64_t Value() const { return m_hash; }

private:
    std::uint64_t m_hash = 0xCBF29CE484222325ull;
};

// FNV's low bits follow the last bytes closely; a finaliser (the one of SplitMix64) spreads
// every input bit over the whole word before the remainder picks the bucket.
std::uint64_t Mix(std::uint64_t x)
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x;
}

}  // namespace

RolloutPercent ParseRollout(bool present, const std::wstring& value)
{
    RolloutPercent result;
    if (!present) return result;
    unsigned long long number = 0;
    if (!rules::ParseRolloutPercent(value.data(), value.size(), &number))
        return RolloutPercent{0, false};
    result.percent = static_cast<unsigned>(number);
    return result;
}

unsigned RolloutBucket(const std::wstring& machineId, const std::wstring& section,
                       std::int32_t revision)
{
    if (machineId.empty()) return kLastBucket;
    Fnv hash;
    // GUIDs are written in either case in the registry's history; the bucket must not change
    // with that.
    hash.Text(rules::AsciiUpper(machineId));
    hash.Text(section);
    const auto bits = static_cast<std::uint32_t>(revision);
    for (int shift = 0; shift < 32; shift += 8)
        hash.Byte(static_cast<unsigned char>(bits >> shift));
    return static_cast<unsigned>(Mix(hash.Value()) % 100);
}

}  // namespace app

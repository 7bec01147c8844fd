#include "pack/name_case.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "pack/sha256.h"
#include "payload_builder.h"

namespace {

using testpayload::Hex;

// Upper-cases code units as Windows' table does: simple mappings only, nothing beyond the BMP.
TEST(NameKey, FoldsNamesAsWindowsComparesThem)
{
    const struct {
        const char* name;
        std::u16string key;
    } cases[] = {
        {"a.txt", u"A.TXT"},
        {"KVWizard.exe", u"KVWIZARD.EXE"},
        {"\xC3\xB1"
         "and\xC3\xBA",
         u"\u00D1AND\u00DA"},                                 // ñandú
        {"\xC3\xBF", u"\u0178"},                              // ÿ -> Ÿ, outside Latin-1
        {"\xC5\x8F\xC6\x80", u"\u014E\u0243"},                // ŏ (pairs), ƀ
        {"\xCF\x89\xD0\xB6\xD5\xA1", u"\u03A9\u0416\u0531"},  // Greek, Cyrillic, Armenian
        {"\xEF\xBD\x81", u"\uFF21"},                          // fullwidth a
        {"\xC3\x9F\xC4\xB1\xC5\xBF", u"\u00DF\u0131\u017F"},  // ß ı ſ: no simple upper
        {"\xF0\x90\x90\xA8", u"\U00010428"},                  // Deseret: past the BMP
        {"\xE6\x97\xA5", u"\u65E5"},
        // Cut short by the end: only the bytes there count. Names reach NameKey checked, but
        // it never reads past them either.
        {"\xE6\x97", u"\u0197"},
    };
    for (const auto& c : cases) EXPECT_EQ(pack::NameKey(c.name), c.key) << c.name;
    EXPECT_EQ(pack::UpcaseUnit(u'z'), u'Z');
    EXPECT_EQ(pack::UpcaseUnit(u'Z'), u'Z');
    EXPECT_EQ(pack::UpcaseUnit(u'\u0100'), u'\u0100');  // upper of a step-2 pair
    EXPECT_EQ(pack::UpcaseUnit(u'\uFFFF'), u'\uFFFF');
}

// Latin Extended-A pairs each capital with the small letter one code point after it; the
// capitals sit on even code points, then on odd ones from U+0139 to U+0148 and from U+0179.
// Written from the block's own pattern, so a step range cut short, shifted or given the wrong
// parity fails on the letter it misses.
TEST(NameKey, FoldsLatinExtendedAPairsOneApart)
{
    for (char16_t unit = 0x0100; unit <= 0x017F; ++unit) {
        const bool oddCapitals = (unit >= 0x0139 && unit <= 0x0148) || unit >= 0x0179;
        const bool small = (unit % 2 == 1) != oddCapitals;
        // No simple pair: dotted I and dotless i, kra, n preceded by apostrophe, long s.
        const bool unpaired =
            unit == 0x0130 || unit == 0x0131 || unit == 0x0138 || unit == 0x0149 || unit == 0x017F;
        const char16_t upper = small && !unpaired ? static_cast<char16_t>(unit - 1) : unit;
        EXPECT_EQ(pack::UpcaseUnit(unit), upper) << std::hex << static_cast<unsigned>(unit);
    }
    EXPECT_EQ(pack::UpcaseUnit(u'\u0178'), u'\u0178');  // Y with diaeresis: the capital of U+00FF
}

// The Windows tier holds every code unit of the table to the running system's upcase table
// (NameKey.UpcasesEveryCodeUnitAsTheSystemDoes); this digest of the same 65,536 answers keeps
// that checked mapping in the fast tier, so a changed row fails here without Wine. A deliberate
// change of the table passes the Windows tier first, then updates the digest.
TEST(NameKey, MappingOfTheWholeBmpIsTheOneCheckedAgainstWindows)
{
    pack::Sha256 hash;
    for (uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
        const char16_t upper = pack::UpcaseUnit(static_cast<char16_t>(unit));
        const unsigned char le[2] = {static_cast<unsigned char>(upper & 0xFF),
                                     static_cast<unsigned char>(upper >> 8)};
        hash.Update(le, sizeof le);
    }
    unsigned char digest[pack::Sha256::kDigestSize];
    hash.Finish(digest);
    EXPECT_EQ(Hex(digest, sizeof digest),
              "1de7ad3f18b843489709032bf23f9d25e74dfb0bced9c0fa258392f54b09061f");
}

}  // namespace

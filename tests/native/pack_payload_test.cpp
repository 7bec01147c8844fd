#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pack/name_case.h"
#include "pack/payload.h"
#include "pack/sha256.h"
#include "payload_builder.h"

namespace {

using testpayload::BuildPayload;
using testpayload::Bytes;
using testpayload::File;
using testpayload::Folder;
using testpayload::RawEntry;

std::string Hex(const unsigned char* bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

// Fed in pieces of `piece` bytes, so blocks straddle the calls.
std::string Sha256Hex(const std::string& text, size_t piece, pack::Sha256::Engine engine)
{
    pack::Sha256 hash(engine);
    for (size_t at = 0; at < text.size(); at += piece)
        hash.Update(Bytes(text) + at, std::min(piece, text.size() - at));
    unsigned char digest[pack::Sha256::kDigestSize];
    hash.Finish(digest);
    return Hex(digest, sizeof(digest));
}

// Best takes the processor's SHA instructions where this machine has them; Portable never.
TEST(Sha256, BothEnginesMatchTheStandardVectorsWhateverTheFeedSize)
{
    const std::string million(1000000, 'a');
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: padding spills
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto engine : {pack::Sha256::Engine::Best, pack::Sha256::Engine::Portable}) {
        for (const auto& c : cases) {
            for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{1000}, size_t{1} << 20})
                EXPECT_EQ(Sha256Hex(c.text, piece, engine), c.digest)
                    << c.text.size() << " by " << piece
                    << (engine == pack::Sha256::Engine::Best ? " best" : " portable");
        }
    }
}

TEST(PayloadNames, AcceptOnlyRelativePathsWindowsTakesLiterally)
{
    const std::string accepted[] = {
        "a", "res/English/uistrings.ini", ".hidden", "..a", "a..b", "a b", " lead",
        ("\xC3\xB1"
         "and\xC3\xBA/\xE6\x97\xA5\xE6\x9C\xAC.txt"),  // ñandú/日本.txt
        "\xF0\x9F\x93\xA6",                            // U+1F4E6, outside the BMP
        "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",  // U+10000 and U+10FFFF, the ends of the pairs
        // 255 UTF-16 units, the pair counted as two, as Windows counts a name's length.
        std::string(253, 'a') + "\xF0\x9F\x93\xA6", "CONSOLE", "COM10", "LPTX", "nul_",
        "con-fig.ini", "KVWizard.exe", "a~", "a~b1.txt", "a~1b", "x.y~1", "a~1 .txt", "1234",
        "7.zip",  // digits without a tilde are no short alias
    };
    for (const std::string& name : accepted) EXPECT_TRUE(pack::CheckEntryName(name)) << name;

    const std::string refused[] = {
        "", "/a", "a/", "a//b", ".", "..", "./a", "a/./b", "../a", "a/..", "a/../../b", "C:/x",
        "C:x", "c:", "\\\\server\\share", "a\\b", "a.txt:evil", "a.txt::$DATA", "a.", "a ", "a/. .",
        "a/b ", "...", "CON", "con.txt", "Nul", "aux.tar.gz", "AUX .txt", "x/prn", "COM1",
        "lpt9.log", "COM0", "com\xC2\xB9", "LPT\xC2\xB3.txt", "CONIN$", "conout$.x", "a*b", "a?b",
        "a\"b", "a<b", "a>b", "a|b", "tab\there", "del\x7F",
        "\xC0\xAF",                                          // '/' in a long form
        "\xE0\x80\xAF",                                      // the same, three bytes
        "\xED\xA0\x80",                                      // a surrogate
        "\xE6\x97",                                          // cut short
        "\xF4\x90\x80\x80",                                  // past U+10FFFF
        "\xFF", std::string(254, 'a') + "\xF0\x9F\x93\xA6",  // 256 UTF-16 units
        // Short 8.3 aliases: Windows would also find another entry under them.
        "KVWIZA~1.EXE", "progra~1", "res/ENGLIS~2", "a~12.tar.gz", "~0",
        "a~b~1.txt",  // the last tilde of the stem counts
    };
    for (const std::string& name : refused) EXPECT_FALSE(pack::CheckEntryName(name)) << name;
    EXPECT_FALSE(pack::CheckEntryName(std::string("a\0b", 3)));
}

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

TEST(ReadPayload, ListsEntriesWithTheirPlaceInTheData)
{
    const std::string payload =
        BuildPayload("KVNew", {Folder("res"), File("res/a.ini", "alpha"), File("zero", ""),
                               Folder("empty"), File("big", std::string(70000, 'x'))});
    pack::Payload read;
    ASSERT_TRUE(pack::ReadPayload(Bytes(payload), payload.size(), &read));
    EXPECT_TRUE(pack::CheckPayloadHash(Bytes(payload), payload.size()));
    EXPECT_EQ(read.folder, "KVNew");
    ASSERT_EQ(read.entries.size(), 5u);
    EXPECT_EQ(read.entries[0].kind, pack::EntryKind::Folder);
    EXPECT_EQ(read.entries[1].name, "res/a.ini");
    EXPECT_EQ(payload.substr(read.entries[1].offset, read.entries[1].size), "alpha");
    EXPECT_EQ(read.entries[2].size, 0u);
    EXPECT_EQ(read.entries[4].offset + read.entries[4].size, payload.size());
    EXPECT_EQ(payload.substr(read.entries[4].offset, 3), "xxx");
}

TEST(ReadPayload, RefusesCraftedTablesBeforeAnythingIsWritten)
{
    const struct {
        const char* what;
        std::string folder;
        std::vector<RawEntry> entries;
    } cases[] = {
        {"traversal", "KVNew", {File("../outside.txt", "x")}},
        {"absolute", "KVNew", {File("/etc/x", "x")}},
        {"drive", "KVNew", {File("C:/evil.txt", "x")}},
        {"dot-dot inside a nested name", "KVNew", {Folder("a"), File("a/../../outside", "x")}},
        {"stream", "KVNew", {File("a.txt:hidden", "x")}},
        {"device", "KVNew", {Folder("a"), File("a/con.txt", "x")}},
        {"parent not listed", "KVNew", {File("a/b.txt", "x")}},
        {"parent listed after", "KVNew", {File("a/b.txt", "x"), Folder("a")}},
        {"parent is a file", "KVNew", {File("a", "x"), File("a/b", "y")}},
        {"same name twice", "KVNew", {File("a", "x"), File("a", "y")}},
        {"case twins", "KVNew", {File("a.txt", "x"), File("A.TXT", "y")}},
        {"folder and file twins", "KVNew", {Folder("x"), File("X", "y")}},
        {"twins below a folder",
         "KVNew",
         {Folder("d"), File("d/\xC3\xA9", "x"), File("d/\xC3\x89", "y")}},
        {"short alias of the wizard",
         "KVNew",
         {File("KVWizard.exe", "x"), File("KVWIZA~1.EXE", "y")}},
        {"size past the end", "KVNew", {{pack::EntryKind::File, "a", "xy", 3}}},
        {"size short of the data", "KVNew", {{pack::EntryKind::File, "a", "xy", 1}}},
        // 2^64 - 1 and 3 add up to the 2 bytes of data modulo 2^64: the extractor would read
        // 2^64 - 1 bytes from the first entry's offset.
        {"sizes wrap around to the length",
         "KVNew",
         {{pack::EntryKind::File, "a", "xy", UINT64_MAX}, {pack::EntryKind::File, "b", "", 3}}},
        {"folder with a size", "KVNew", {{pack::EntryKind::Folder, "a", "", 1}}},
        // The folder's byte is taken from the file after it, so the sizes still add up.
        {"folder with a size the sum hides",
         "KVNew",
         {{pack::EntryKind::Folder, "a", "", 1}, {pack::EntryKind::File, "b", "xy", 1}}},
        {"folder name climbs", "..", {File("a", "x")}},
        {"folder name nests", "a/b", {File("a", "x")}},
        // 128 two-byte letters: a plain name of 128 units, but 256 bytes, past the field's 255.
        {"folder name too long",
         [] {
             std::string name;
             for (int i = 0; i < 128; ++i) name += "\xC3\xA9";
             return name;
         }(),
         {File("a", "x")}},
        {"no folder name", "", {File("a", "x")}},
    };
    for (const auto& c : cases) {
        const std::string payload = BuildPayload(c.folder, c.entries);
        pack::Payload read;
        EXPECT_FALSE(pack::ReadPayload(Bytes(payload), payload.size(), &read)) << c.what;
    }
}

TEST(ReadPayload, RefusesHeadersThatDoNotAddUpToTheLength)
{
    const std::string good = BuildPayload("KVNew", {Folder("a"), File("a/b", "content")});
    pack::Payload read;
    ASSERT_TRUE(pack::ReadPayload(Bytes(good), good.size(), &read));

    auto patched = [&](size_t at, unsigned char value) {
        std::string p = good;
        p[at] = static_cast<char>(value);
        testpayload::Rehash(&p);
        return p;
    };
    const struct {
        const char* what;
        std::string payload;
    } cases[] = {
        {"truncated", good.substr(0, good.size() - 1)},
        {"a byte appended", good + "x"},
        {"header only", good.substr(0, pack::kHeaderSize)},
        {"shorter than a header", good.substr(0, 20)},
        {"magic", patched(0, 'X')},
        {"magic below", patched(3, 'A')},  // "MVPA"
        {"version", patched(4, 2)},
        {"version 0", patched(4, 0)},
        {"reserved word", patched(52, 1)},
        {"folder length", patched(40, 200)},
        {"entry count too high", patched(44, 3)},
        {"entry count too low", patched(44, 1)},
        {"table length", patched(48, 1)},
        {"data length", patched(56, 0)},
        {"unknown kind", patched(pack::kHeaderSize + 5, 3)},
        {"reserved entry byte", patched(pack::kHeaderSize + 5 + 1, 1)},
        {"name length past the table", patched(pack::kHeaderSize + 5 + 3, 0x7F)},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(pack::ReadPayload(Bytes(c.payload), c.payload.size(), &read)) << c.what;
}

TEST(CheckPayloadHash, CoversTheTableAndTheContentButNotItself)
{
    const std::string good = BuildPayload("KVNew", {File("a", "content")});
    EXPECT_TRUE(pack::CheckPayloadHash(Bytes(good), good.size()));
    for (size_t at : {size_t{9}, pack::kHashedFrom, pack::kHeaderSize + 5, good.size() - 1}) {
        std::string flipped = good;
        flipped[at] ^= 0x01;
        EXPECT_FALSE(pack::CheckPayloadHash(Bytes(flipped), flipped.size())) << at;
    }
    EXPECT_FALSE(pack::CheckPayloadHash(Bytes(good), 20));
}

}  // namespace

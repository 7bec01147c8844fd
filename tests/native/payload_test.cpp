#include "pack/payload.h"

#include <gtest/gtest.h>

#include <vector>
#include <string>

#include "payload_builder.h"

namespace {

using testpayload::BuildPayload;
using testpayload::Bytes;
using testpayload::File;
using testpayload::Folder;
using testpayload::RawEntry;

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

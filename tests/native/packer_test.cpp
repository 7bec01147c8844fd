#include "pack/packer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "rules/package_record.h"
#include "rules/pe_headers.h"
#include "pe_image_builder.h"
#include "payload_builder.h"

namespace {

namespace fs = std::filesystem;
using testimage::kRcData;
using testpayload::Bytes;

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

const pack::PackageIdentity kIdentity{"KV Universal", "7"};

class PackerFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() /
                 ("morvane-pack-test-" +
                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root / "src");
    }
    void TearDown() override { fs::remove_all(m_root); }
    fs::path Src(const std::string& utf8) const { return m_root / "src" / fs::u8path(utf8); }

    fs::path m_root;
};

TEST_F(PackerFolder, PacksATreeThatReadsBackByteForByte)
{
    fs::create_directories(Src("res/English"));
    fs::create_directories(Src("empty"));
    fs::create_directories(
        Src("\xC3\xB1"
            "and\xC3\xBA"));  // ñandú
    WriteAll(Src("res/English/uistrings.ini"), "[STARTUP]\r\n");
    WriteAll(Src("zero.bin"), "");
    WriteAll(Src("\xC3\xB1"
                 "and\xC3\xBA/\xE6\x97\xA5\xE6\x9C\xAC.txt"),
             "nihon");
    std::string big(3 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
    WriteAll(Src("KVWizard.exe"), big);

    std::vector<pack::SourceEntry> tree;
    const pack::PackFault collected = pack::CollectTree(m_root / "src", &tree);
    ASSERT_FALSE(collected) << pack::Describe(collected);
    std::vector<std::string> names;
    for (const auto& e : tree) names.push_back(e.name);
    // Byte order, each folder before what it holds.
    EXPECT_EQ(names, (std::vector<std::string>{"KVWizard.exe", "empty", "res", "res/English",
                                               "res/English/uistrings.ini", "zero.bin",
                                               "\xC3\xB1"
                                               "and\xC3\xBA",
                                               "\xC3\xB1"
                                               "and\xC3\xBA/\xE6\x97\xA5\xE6\x9C\xAC.txt"}));

    WriteAll(m_root / "stub.exe", testimage::MinimalImage());
    pack::PackStats stats;
    const pack::PackFault written = pack::WritePackage(m_root / "stub.exe", tree, "KVNew",
                                                       kIdentity, m_root / "KVSetup.exe", &stats);
    ASSERT_FALSE(written) << pack::Describe(written);
    EXPECT_EQ(stats.files, 4u);
    EXPECT_EQ(stats.folders, 4u);
    EXPECT_FALSE(fs::exists(m_root / "KVSetup.exe.part"));

    const std::string image = ReadAll(m_root / "KVSetup.exe");
    rules::PeSpan span;
    ASSERT_TRUE(rules::FindPeResource(Bytes(image), image.size(), kRcData, 1, &span));
    const unsigned char* payload = Bytes(image) + span.offset;
    EXPECT_TRUE(pack::CheckPayloadHash(payload, span.length));
    // The package says what it is, inside what its signature will cover.
    rules::PeSpan recordSpan;
    rules::PackageRecord record;
    ASSERT_TRUE(rules::FindPeResource(Bytes(image), image.size(), kRcData, rules::kPackageRecordId,
                                      &recordSpan));
    ASSERT_TRUE(rules::ReadPackageRecord(Bytes(image) + recordSpan.offset,
                                         static_cast<size_t>(recordSpan.length), &record));
    EXPECT_EQ(record.section, L"KV Universal");
    EXPECT_EQ(record.revision, 7u);
    EXPECT_EQ(record.folder, L"KVNew");
    EXPECT_EQ(record.wizard, L"KVWizard.exe");
    pack::Payload read;
    ASSERT_TRUE(pack::ReadPayload(payload, span.length, &read));
    EXPECT_EQ(read.folder, "KVNew");
    ASSERT_EQ(read.entries.size(), tree.size());
    for (size_t i = 0; i < tree.size(); ++i) {
        EXPECT_EQ(read.entries[i].name, tree[i].name);
        EXPECT_EQ(read.entries[i].kind, tree[i].kind);
        if (tree[i].kind == pack::EntryKind::File)
            EXPECT_EQ(image.substr(span.offset + read.entries[i].offset, read.entries[i].size),
                      ReadAll(tree[i].path))
                << tree[i].name;
    }
}

TEST_F(PackerFolder, RefusesWhatCannotUnpackAsIs)
{
    using P = pack::PackProblem;
    const struct {
        const char* what;
        void (*make)(const fs::path& src);
        P expected;
    } cases[] = {
        {"symbolic link",
         [](const fs::path& src) { fs::create_symlink("/etc/passwd", src / "link"); },
         P::SpecialFile},
        {"device name", [](const fs::path& src) { WriteAll(src / "aux.txt", "x"); },
         P::NotLiteralName},
        {"trailing dot", [](const fs::path& src) { fs::create_directories(src / "dir."); },
         P::NotLiteralName},
        {"backslash", [](const fs::path& src) { WriteAll(src / "a\\b", "x"); }, P::NotLiteralName},
        {"case twins",
         [](const fs::path& src) { WriteAll(src / "a.txt", "x"), WriteAll(src / "A.TXT", "y"); },
         P::OneNameOnWindows},
        {"folder and file twins",
         [](const fs::path& src) { fs::create_directories(src / "x"), WriteAll(src / "X", "y"); },
         P::OneNameOnWindows},
        {"short alias", [](const fs::path& src) { WriteAll(src / "KVWIZA~1.EXE", "x"); },
         P::NotLiteralName},
    };
    for (const auto& c : cases) {
        fs::remove_all(Src(""));
        fs::create_directories(Src("sub"));
        c.make(Src("sub"));
        std::vector<pack::SourceEntry> tree;
        const pack::PackFault fault = pack::CollectTree(m_root / "src", &tree);
        EXPECT_EQ(fault.problem, c.expected) << c.what;
        // The command line names the entry, with its folder.
        const std::string said = pack::Describe(fault);
        EXPECT_NE(said.find("sub/"), std::string::npos) << c.what << ": " << said;
    }
}

TEST_F(PackerFolder, LeavesNothingWhenTheStubIsRefused)
{
    WriteAll(Src("a"), "x");
    WriteAll(m_root / "stub.exe", "not an image");
    std::vector<pack::SourceEntry> tree;
    ASSERT_FALSE(pack::CollectTree(m_root / "src", &tree));
    pack::PackStats stats;
    EXPECT_EQ(pack::WritePackage(m_root / "stub.exe", tree, "KVNew", kIdentity, m_root / "out.exe",
                                 &stats)
                  .problem,
              pack::PackProblem::NotPeImage);
    EXPECT_FALSE(fs::exists(m_root / "out.exe"));
    EXPECT_FALSE(fs::exists(m_root / "out.exe.part"));
    EXPECT_EQ(
        pack::WritePackage(m_root / "stub.exe", tree, "..", kIdentity, m_root / "out.exe", &stats)
            .problem,
        pack::PackProblem::NotLiteralFolderName);
    // A package says what it is, or it is not written: no section, a revision out of range.
    WriteAll(m_root / "stub.exe", testimage::MinimalImage());
    for (const pack::PackageIdentity& bad :
         {pack::PackageIdentity{"", "7"}, pack::PackageIdentity{"KV", "0"},
          pack::PackageIdentity{"KV[1]", "7"}, pack::PackageIdentity{"KV", "2147483648"}}) {
        EXPECT_EQ(
            pack::WritePackage(m_root / "stub.exe", tree, "KVNew", bad, m_root / "out.exe", &stats)
                .problem,
            pack::PackProblem::BadIdentity)
            << bad.section << " " << bad.revision;
        EXPECT_FALSE(fs::exists(m_root / "out.exe"));
    }
}

TEST(ControlSection, PrintsTheThreeKeysOrSaysWhyNot)
{
    using P = pack::PackProblem;
    std::string text;
    EXPECT_EQ(pack::ControlSection("KV Universal", "7", "https://dl.example/kv/KVSetup.exe",
                                   "KVNew", &text),
              P::None);
    EXPECT_EQ(text,
              "[KV Universal]\nDownloadUrl=https://dl.example/kv/KVSetup.exe\n"
              "ExePath=KVNew\\KVWizard.exe\nRevision=7\n");
    const struct {
        const char* section;
        const char* revision;
        std::string url;
        P expected;
    } refused[] = {
        {"", "7", "http://h/p.exe", P::BadSection},
        {"a]b", "7", "http://h/p.exe", P::BadSection},
        {"a\nb", "7", "http://h/p.exe", P::BadSection},
        {"s", "0", "http://h/p.exe", P::BadRevision},
        {"s", "-1", "http://h/p.exe", P::BadRevision},
        {"s", "07", "http://h/p.exe", P::BadRevision},
        {"s", "2147483648", "http://h/p.exe", P::BadRevision},
        {"s", "7x", "http://h/p.exe", P::BadRevision},
        {"s", "7", "ftp://h/p.exe", P::BadUrl},
        {"s", "7", "http://h/a b.exe", P::BadUrl},
        {"s", "7", "http://h\\p.exe", P::BadUrl},
        {"s", "7", "http://h/", P::UrlWithoutFileName},
        {"s", "7", "http://h", P::UrlWithoutFileName},
        // the download would take the folder's name
        {"s", "7", "http://h/kvnew", P::PackageNamedLikeFolder},
        {"s", "7", "http://h/" + std::string(250, 'p') + ".exe", P::BadUrl},
    };
    for (const auto& c : refused) {
        text = "untouched";
        EXPECT_EQ(pack::ControlSection(c.section, c.revision, c.url, "KVNew", &text), c.expected)
            << c.section << " " << c.revision << " " << c.url;
        EXPECT_EQ(text, "untouched");
    }
    EXPECT_EQ(pack::ControlSection("s", "2147483647", "http://h/p.exe", "KVNew", &text), P::None);
}

TEST(ControlSection, RolloutIsAPercentageMorvaneReadsAsWritten)
{
    for (const char* ok : {"0", "5", "25", "100", "007"})
        EXPECT_TRUE(pack::IsRolloutPercent(ok)) << ok;
    for (const char* bad : {"", "101", "-1", "5%", "2.5", "1000", "0100", " 5"})
        EXPECT_FALSE(pack::IsRolloutPercent(bad)) << bad;
}

}  // namespace

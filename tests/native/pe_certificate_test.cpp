#include "rules/pe_certificate.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "sys/trust_rules.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
}
void Put32(Bytes& b, size_t at, uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

constexpr size_t kPe = 0x80;
constexpr size_t kOptional = kPe + 24;

// A PE image with headers and one body of 0x400 bytes, no certificate table yet.
Bytes MakeImage(bool plus = false)
{
    Bytes b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, kPe);
    b[kPe] = 'P';
    b[kPe + 1] = 'E';
    Put16(b, kPe + 4, plus ? 0x8664 : 0x14C);
    Put16(b, kPe + 20, plus ? 240 : 224);
    Put16(b, kOptional, plus ? 0x20B : 0x10B);
    Put32(b, kOptional + (plus ? 108 : 92), 16);
    return b;
}

uint32_t Read32(const Bytes& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

size_t SecurityEntry(const Bytes& b)
{
    const size_t optional = Read32(b, 0x3C) + 24;
    const bool plus = b[optional + 1] == 0x02;
    return optional + (plus ? 112 : 96) + 4 * 8;
}

// A DER SEQUENCE of `content` bytes (long form length), standing in for a PKCS#7 blob.
Bytes Der(size_t content)
{
    Bytes d = {0x30, 0x82, static_cast<unsigned char>(content >> 8),
               static_cast<unsigned char>(content & 0xFF)};
    d.resize(4 + content, 0xA5);
    return d;
}

// One WIN_CERTIFICATE entry: header, blob, zero padding to 8.
Bytes Entry(const Bytes& blob, uint16_t revision = 0x200, uint16_t type = 2)
{
    Bytes e(8);
    e.insert(e.end(), blob.begin(), blob.end());
    while (e.size() % 8) e.push_back(0);
    Put32(e, 0, static_cast<uint32_t>(e.size()));
    Put16(e, 4, revision);
    Put16(e, 6, type);
    return e;
}

// Appends `table` at the end of the image and points the security directory at it.
Bytes Sign(Bytes image, const Bytes& table, uint32_t declaredLength = 0)
{
    const size_t at = image.size();
    Put32(image, SecurityEntry(image), static_cast<uint32_t>(at));
    Put32(image, SecurityEntry(image) + 4,
          declaredLength ? declaredLength : static_cast<uint32_t>(table.size()));
    image.insert(image.end(), table.begin(), table.end());
    return image;
}

bool Check(const Bytes& b)
{
    rules::CertificateSpan blob;
    return rules::CheckSignedImage(b.data(), b.size(), &blob);
}

TEST(PeCertificate, SoundTableGivesTheBlobInTheFile)
{
    for (bool plus : {false, true}) {
        const Bytes blob = Der(0x101);  // 0x105 bytes: 3 bytes of padding after it
        const Bytes file = Sign(MakeImage(plus), Entry(blob));
        rules::CertificateSpan where;
        ASSERT_TRUE(rules::CheckSignedImage(file.data(), file.size(), &where)) << plus;
        EXPECT_EQ(where.offset, 0x400u + 8);
        EXPECT_EQ(where.length, blob.size());
        EXPECT_EQ(file[where.offset], 0x30);
    }
}

TEST(PeCertificate, UnsignedImageHasAnEmptyTable)
{
    const Bytes image = MakeImage();
    rules::CertificateSpan table{1, 1};
    EXPECT_TRUE(rules::FindCertificateTable(image.data(), image.size(), &table));
    EXPECT_EQ(table.offset, 0u);
    EXPECT_EQ(table.length, 0u);
    EXPECT_FALSE(Check(image));

    Bytes few = MakeImage();  // too few data directories to hold a security entry
    Put32(few, kOptional + 92, 4);
    EXPECT_TRUE(rules::FindCertificateTable(few.data(), few.size(), &table));
    EXPECT_EQ(table.length, 0u);
}

TEST(PeCertificate, RefusesBytesTheSignatureDoesNotCover)
{
    const Bytes blob = Der(0x101);
    const Bytes good = Sign(MakeImage(), Entry(blob));

    Bytes appended = good;  // data after the table: the table no longer ends the file
    appended.insert(appended.end(), {'M', 'Z', 0, 0});
    EXPECT_FALSE(Check(appended)) << "bytes after the table";

    Bytes zerosAppended = good;
    zerosAppended.insert(zerosAppended.end(), 8, 0);
    EXPECT_FALSE(Check(zerosAppended)) << "zeros after the table";

    Bytes dirty = good;  // a payload in the alignment padding
    dirty.back() = 0x01;
    EXPECT_FALSE(Check(dirty)) << "non-zero padding";

    Bytes grown = MakeImage();  // table grown by 8 zero bytes beyond the alignment
    Bytes entry = Entry(blob);
    entry.insert(entry.end(), 8, 0);
    Put32(entry, 0, static_cast<uint32_t>(entry.size()));
    EXPECT_FALSE(Check(Sign(grown, entry))) << "padding beyond 8";

    Bytes twoEntries = Entry(blob);  // a second certificate entry
    const Bytes second = Entry(Der(0x20));
    twoEntries.insert(twoEntries.end(), second.begin(), second.end());
    EXPECT_FALSE(Check(Sign(MakeImage(), twoEntries))) << "two entries";

    Bytes blobWithTail = Entry(Der(0x100));  // entry claims more than the DER blob holds
    blobWithTail.insert(blobWithTail.end(), 16, 0x41);
    Put32(blobWithTail, 0, static_cast<uint32_t>(blobWithTail.size()));
    EXPECT_FALSE(Check(Sign(MakeImage(), blobWithTail))) << "bytes inside the entry";
}

TEST(PeCertificate, RefusesMalformedTables)
{
    const Bytes blob = Der(0x80);
    EXPECT_FALSE(Check(Sign(MakeImage(), Entry(blob, 0x100)))) << "revision";
    EXPECT_FALSE(Check(Sign(MakeImage(), Entry(blob, 0x200, 1)))) << "X.509 type";

    Bytes overlong = Entry(blob);
    Put32(overlong, 0, static_cast<uint32_t>(overlong.size() + 8));
    EXPECT_FALSE(Check(Sign(MakeImage(), overlong))) << "entry longer than table";

    Bytes shortEntry = Entry(blob);
    Put32(shortEntry, 0, 4);
    EXPECT_FALSE(Check(Sign(MakeImage(), shortEntry))) << "entry shorter than its header";

    Bytes notDer = Entry(blob);
    notDer[8] = 0x31;
    EXPECT_FALSE(Check(Sign(MakeImage(), notDer))) << "not a SEQUENCE";

    Bytes derTooLong = Entry(blob);
    derTooLong[10] = 0x7F;  // DER length far beyond the entry
    EXPECT_FALSE(Check(Sign(MakeImage(), derTooLong))) << "DER length beyond entry";

    const Bytes entry = Entry(blob);
    EXPECT_FALSE(Check(Sign(MakeImage(), entry, static_cast<uint32_t>(entry.size() + 8))))
        << "directory size beyond the file";

    // A sound table that ends the file but starts inside the optional header: the image is
    // cut just past its last data directory, and the table's first bytes are that directory.
    Bytes headers = MakeImage();
    headers.resize(kOptional + 224 - 8);
    EXPECT_FALSE(Check(Sign(headers, entry))) << "table inside the headers";
}

TEST(PeCertificate, RefusesWhatIsNoPeImage)
{
    Bytes image = MakeImage();
    rules::CertificateSpan table;
    Bytes noMz = image;
    noMz[0] = 'X';
    EXPECT_FALSE(rules::FindCertificateTable(noMz.data(), noMz.size(), &table));
    Bytes noPe = image;
    noPe[kPe + 2] = 'X';
    EXPECT_FALSE(rules::FindCertificateTable(noPe.data(), noPe.size(), &table));
    Bytes magic = image;
    Put16(magic, kOptional, 0x107);
    EXPECT_FALSE(rules::FindCertificateTable(magic.data(), magic.size(), &table));
    Bytes farHeader = image;
    Put32(farHeader, 0x3C, 0xFFFFFFF0u);
    EXPECT_FALSE(rules::FindCertificateTable(farHeader.data(), farHeader.size(), &table));
    Bytes smallOptional = image;
    Put16(smallOptional, kPe + 20, 96);
    EXPECT_FALSE(rules::FindCertificateTable(smallOptional.data(), smallOptional.size(), &table));
}

// Every prefix of a signed image is read without going past its end (ASan watches).
TEST(PeCertificate, TruncatedInputsStayInBounds)
{
    const Bytes file = Sign(MakeImage(), Entry(Der(0x40)));
    for (size_t length = 0; length < file.size(); ++length) {
        Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(Check(prefix)) << length;
    }
}

// Real signed images from Debian's archive, which tests/fixtures/real-pe/fetch.sh puts in
// MORVANE_REAL_PE_DIR (ctest runs it first). GRUB's table holds one entry; the UEFI shim's
// holds two, a second signature next to Microsoft's, which Windows accepts and we refuse.
Bytes ReadRealImage(const char* name)
{
    const std::string path = std::string(MORVANE_REAL_PE_DIR) + "/" + name;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(in ? static_cast<size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EXPECT_FALSE(bytes.empty()) << path << " is missing: run ctest -R native.real_pe, or "
                                << "tests/fixtures/real-pe/fetch.sh " << MORVANE_REAL_PE_DIR;
    return bytes;
}

TEST(PeCertificateRealFiles, OneEntryPassesAndASecondEntryIsRefused)
{
    const Bytes grub = ReadRealImage("grubx64.efi.signed");
    const Bytes shim = ReadRealImage("shimx64.efi.signed");
    ASSERT_FALSE(grub.empty());
    ASSERT_FALSE(shim.empty());
    // Named .efi.signed, both are PE images by their content.
    for (const Bytes* image : {&grub, &shim})
        EXPECT_EQ(sys::KindOfContent(image->data(), image->size()),
                  sys::PackageKind::PortableExecutable);

    rules::CertificateSpan blob;
    ASSERT_TRUE(rules::CheckSignedImage(grub.data(), grub.size(), &blob));
    EXPECT_EQ(grub[blob.offset], 0x30);

    rules::CertificateSpan table;
    ASSERT_TRUE(rules::FindCertificateTable(shim.data(), shim.size(), &table));
    ASSERT_EQ(uint64_t{table.offset} + table.length, shim.size()) << "the table ends the file";
    const uint32_t first = (Read32(shim, table.offset) + 7) & ~7u;
    ASSERT_LT(first, table.length) << "this shim has a single entry now; find one with two";
    EXPECT_FALSE(Check(shim)) << "two entries";

    // Cut back to its first entry, the same shim passes: the second entry alone is refused.
    Bytes firstOnly(shim.begin(), shim.begin() + table.offset + first);
    Put32(firstOnly, SecurityEntry(firstOnly) + 4, first);
    EXPECT_TRUE(Check(firstOnly));
}

}  // namespace

#include "pack/pe_resource.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "pe_image_builder.h"
#include "payload_builder.h"
#include "pack/packer.h"
#include "rules/package_record.h"
#include "rules/pe_headers.h"
#include "rules/pe_certificate.h"

namespace {

using testimage::kManifest;
using testimage::kRcData;
using testpayload::Bytes;

uint32_t Read32(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

std::string Assemble(const pack::ResourcePlan& plan, const std::string& payload)
{
    return plan.head + plan.directory + payload + std::string(plan.tailPadding, '\0');
}

TEST(ResourceSection, LandsWhereTheLoaderLooksInBothImageKinds)
{
    for (bool plus : {false, true}) {
        testimage::ImageOptions options;
        options.plus = plus;
        const std::string stub = testimage::MinimalImage(options);
        const std::string payload =
            testpayload::BuildPayload("KVNew", {testpayload::File("a", "x")});
        pack::ResourcePlan plan;
        const std::string record =
            rules::EncodePackageRecord("KV Universal", "7", "KVNew", "KVWizard.exe");
        ASSERT_EQ(pack::PlanResourceSection(Bytes(stub), stub.size(), pack::PackageManifest(),
                                            record, payload.size(), &plan),
                  pack::PackProblem::None);
        const std::string image = Assemble(plan, payload);
        EXPECT_EQ(image.size() % 0x200, 0u);

        rules::PeSpan found;
        ASSERT_TRUE(rules::FindPeResource(Bytes(image), image.size(), kRcData, 1, &found));
        EXPECT_EQ(image.substr(found.offset, found.length), payload);
        ASSERT_TRUE(rules::FindPeResource(Bytes(image), image.size(), kManifest, 1, &found));
        const std::string manifest = image.substr(found.offset, found.length);
        EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
        ASSERT_TRUE(rules::FindPeResource(Bytes(image), image.size(), kRcData,
                                          rules::kPackageRecordId, &found));
        EXPECT_EQ(image.substr(found.offset, found.length), record);
        EXPECT_FALSE(rules::FindPeResource(Bytes(image), image.size(), kRcData, 3, &found));

        const size_t optional = 0x44 + 20;
        EXPECT_EQ(image[0x46], 2);                         // one section more
        EXPECT_EQ(Read32(image, optional + 56), 0x3000u);  // SizeOfImage covers it
        EXPECT_EQ(Read32(image, optional + 56) % 0x1000, 0u);
        // Still an unsigned image to the package check, ready for a signing tool.
        rules::CertificateSpan table{1, 1};
        EXPECT_TRUE(rules::FindCertificateTable(Bytes(image), image.size(), &table));
        EXPECT_EQ(table.length, 0u);
    }
}

TEST(ResourceSection, RefusesStubsItCannotExtendSafely)
{
    auto withTrailer = testimage::MinimalImage() + "overlay";
    testimage::ImageOptions resources, signedStub, symbols, full;
    resources.resourceRva = 0x1000;
    signedStub.securityOffset = 0x400;
    symbols.symbolTable = 0x400;
    full.sections = 10;  // 0x178 + 10 * 40 fills the 0x200 bytes of headers
    using P = pack::PackProblem;
    const struct {
        const char* what;
        std::string stub;
        P expected;
    } cases[] = {
        {"not an image", "MZ but nothing else", P::NotPeImage},
        {"has resources", testimage::MinimalImage(resources), P::StubHasResources},
        {"signed", testimage::MinimalImage(signedStub), P::StubIsSigned},
        {"symbols", testimage::MinimalImage(symbols), P::StubHasSymbols},
        {"bytes after the last section", withTrailer, P::BytesAfterLastSection},
        {"no room for a section header", testimage::MinimalImage(full), P::NoRoomForSection},
    };
    for (const auto& c : cases) {
        pack::ResourcePlan plan;
        EXPECT_EQ(pack::PlanResourceSection(Bytes(c.stub), c.stub.size(), "m", "r", 10, &plan),
                  c.expected)
            << c.what;
    }
    pack::ResourcePlan plan;
    const std::string stub = testimage::MinimalImage();
    EXPECT_EQ(pack::PlanResourceSection(Bytes(stub), stub.size(), "m", "r",
                                        pack::kMaxPayloadBytes + 1, &plan),
              P::PayloadTooLarge);
}

}  // namespace

#include "rules/pe_headers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pe_image_builder.h"

TEST(PeHeaders, WalksBothFormatsAndRefusesWhatDoesNotFit)
{
    for (bool plus : {false, true}) {
        testimage::ImageOptions options;
        options.plus = plus;
        options.sections = 3;
        options.resourceRva = 0x2000;
        const std::string image = testimage::MinimalImage(options);
        const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
        rules::PeHeaders h;
        ASSERT_TRUE(rules::ReadPeHeaders(bytes, image.size(), &h)) << plus;
        EXPECT_EQ(h.plus, plus);
        EXPECT_EQ(h.signature, 0x40u);
        EXPECT_EQ(h.optional, 0x40u + 24);
        EXPECT_EQ(h.directoryCount, 16u);
        EXPECT_EQ(h.sectionCount, 3u);
        EXPECT_EQ(
            rules::ReadPeDirectory(bytes, image.size(), h, rules::kPeResourceDirectory).address,
            0x2000u);
        EXPECT_EQ(rules::ReadPeDirectory(bytes, image.size(), h, 16).size, 0u);  // past the count
        std::vector<rules::PeSection> sections;
        ASSERT_TRUE(rules::ReadPeSections(bytes, image.size(), h, &sections));
        ASSERT_EQ(sections.size(), 3u);
        EXPECT_EQ(sections[2].virtualAddress, 0x3000u);
        EXPECT_FALSE(rules::ReadPeSections(bytes, static_cast<size_t>(h.sectionTable) + 40 * 3 - 1,
                                           h, &sections));
        // The walk stops at the end of the optional header.
        EXPECT_TRUE(rules::ReadPeHeaders(bytes, static_cast<size_t>(h.sectionTable), &h));
        EXPECT_FALSE(rules::ReadPeHeaders(bytes, static_cast<size_t>(h.sectionTable) - 1, &h));

        std::string tooMany = image;  // more data directories than the format has
        testimage::Put(&tooMany, static_cast<size_t>(h.directories) - 4, 17, 4);
        EXPECT_FALSE(rules::ReadPeHeaders(reinterpret_cast<const unsigned char*>(tooMany.data()),
                                          tooMany.size(), &h));
        std::string sectionsGalore = image;  // more sections than a loader takes
        testimage::Put(&sectionsGalore, 0x44 + 2, rules::kMaxPeSections + 1, 2);
        const auto* galore = reinterpret_cast<const unsigned char*>(sectionsGalore.data());
        ASSERT_TRUE(rules::ReadPeHeaders(galore, sectionsGalore.size(), &h));
        EXPECT_FALSE(rules::ReadPeSections(galore, sectionsGalore.size(), h, &sections));
    }
}

#include "app/rollout_rules.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// MachineGuid-shaped ids ("8-4-4-4-12" lower-case hex), the same list on every run.
std::vector<std::wstring> SimulatedMachineGuids(size_t count)
{
    std::mt19937_64 random(20261211);
    std::vector<std::wstring> ids;
    ids.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const unsigned long long a = random(), b = random();
        char text[40];
        std::snprintf(text, sizeof text, "%08llx-%04llx-%04llx-%04llx-%012llx", a >> 32,
                      (a >> 16) & 0xFFFF, a & 0xFFFF, b >> 48, b & 0xFFFFFFFFFFFFull);
        ids.emplace_back(text, text + 36);
    }
    return ids;
}

std::vector<unsigned> Buckets(const std::vector<std::wstring>& ids, const std::wstring& section,
                              std::int32_t revision)
{
    std::vector<unsigned> buckets;
    buckets.reserve(ids.size());
    for (const std::wstring& id : ids) buckets.push_back(app::RolloutBucket(id, section, revision));
    return buckets;
}

}  // namespace

TEST(Rollout, EachPercentageReachesItsShareOfMachinesWithinOnePoint)
{
    const std::vector<std::wstring> ids = SimulatedMachineGuids(100000);
    const std::vector<unsigned> buckets = Buckets(ids, L"KV Universal", 7);
    std::vector<size_t> perBucket(100, 0);
    for (unsigned bucket : buckets) {
        ASSERT_LE(bucket, app::kLastBucket);
        ++perBucket[bucket];
    }
    for (unsigned percent : {5u, 25u, 50u, 90u}) {
        size_t offered = 0;
        for (unsigned bucket : buckets) offered += app::IsInRollout(bucket, percent) ? 1 : 0;
        const double share = 100.0 * static_cast<double>(offered) / static_cast<double>(ids.size());
        EXPECT_NEAR(share, percent, 1.0) << percent << "%";
    }
    // No bucket is crowded or empty: 1000 each, give or take five standard deviations.
    for (unsigned bucket = 0; bucket < 100; ++bucket) {
        EXPECT_GT(perBucket[bucket], 850u) << bucket;
        EXPECT_LT(perBucket[bucket], 1150u) << bucket;
    }
    // The same machines on every run and every build: an update of Morvane must not move a
    // machine mid-rollout.
    EXPECT_EQ(Buckets(ids, L"KV Universal", 7), buckets);
    struct Pinned {
        const wchar_t* id;
        std::int32_t revision;
        unsigned bucket;
    } pinned[] = {{L"4c4c4544-0042-3510-8052-b4c04f564433", 6, 33},
                  {L"4c4c4544-0042-3510-8052-b4c04f564433", 7, 28},
                  {L"d2f1a7c3-5e1b-4c09-9f3a-0b6e8c2d4a11", 6, 94},
                  {L"00000000-0000-0000-0000-000000000000", 7, 64}};
    for (const Pinned& p : pinned)
        EXPECT_EQ(app::RolloutBucket(p.id, L"KV-1000", p.revision), p.bucket)
            << testing::PrintToString(std::wstring(p.id)) << " " << p.revision;
    EXPECT_EQ(app::RolloutBucket(L"4c4c4544-0042-3510-8052-b4c04f564433", L"KV-1000", 6),
              app::RolloutBucket(L"4C4C4544-0042-3510-8052-B4C04F564433", L"KV-1000", 6));
}

TEST(Rollout, ANewRevisionOrAnotherSectionDealsTheBucketsAnew)
{
    const std::vector<std::wstring> ids = SimulatedMachineGuids(100000);
    const std::vector<unsigned> first = Buckets(ids, L"KV Universal", 7);
    struct Case {
        const wchar_t* section;
        std::int32_t revision;
    } cases[] = {{L"KV Universal", 8}, {L"KV Universal", -7}, {L"KV Universa", 7}, {L"KV-1000", 7}};
    for (const Case& c : cases) {
        const std::vector<unsigned> other = Buckets(ids, c.section, c.revision);
        // Of the machines in the first 25 %, as many land in the other's first 25 % as chance
        // gives (a quarter), not the same machines again.
        size_t early = 0, earlyAgain = 0;
        for (size_t i = 0; i < ids.size(); ++i) {
            if (first[i] >= 25) continue;
            ++early;
            if (other[i] < 25) ++earlyAgain;
        }
        const double again = static_cast<double>(earlyAgain) / static_cast<double>(early);
        EXPECT_NEAR(again, 0.25, 0.02)
            << testing::PrintToString(std::wstring(c.section)) << " " << c.revision;
    }
}

TEST(Rollout, MachineWithoutAnIdIsTheLastBucket)
{
    EXPECT_EQ(app::RolloutBucket(L"", L"KV-1000", 6), 99u);
    EXPECT_FALSE(app::IsInRollout(99, 99));
    EXPECT_TRUE(app::IsInRollout(99, 100));
    EXPECT_FALSE(app::IsInRollout(0, 0));
}

TEST(Rollout, PercentageIsAWholeNumberUpToAHundredElseAHalt)
{
    struct Case {
        bool present;
        const wchar_t* value;
        unsigned percent;
        bool valid;
    } cases[] = {
        {false, L"", 100, true},   {true, L"0", 0, true},     {true, L"5", 5, true},
        {true, L"025", 25, true},  {true, L"100", 100, true}, {true, L"101", 0, false},
        {true, L"", 0, false},     {true, L"-5", 0, false},   {true, L"+5", 0, false},
        {true, L"50%", 0, false},  {true, L"12.5", 0, false}, {true, L"1000", 0, false},
        {true, L"0100", 0, false}, {true, L"ten", 0, false},  {true, L"\uFF15", 0, false},
    };
    for (const Case& c : cases) {
        const app::RolloutPercent got = app::ParseRollout(c.present, c.value);
        EXPECT_EQ(got.percent, c.percent) << testing::PrintToString(std::wstring(c.value));
        EXPECT_EQ(got.valid, c.valid) << testing::PrintToString(std::wstring(c.value));
    }
}

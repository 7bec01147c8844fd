#include "pack/name_case.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "win/syslib.h"

namespace {

// The portable table is the system's: every code unit of the BMP upper-cases alike.
TEST(NameKey, UpcasesEveryCodeUnitAsTheSystemDoes)
{
    const auto upcase = win::Ntdll().RtlUpcaseUnicodeChar;
    ASSERT_TRUE(upcase);
    int differ = 0;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        const wchar_t ours = static_cast<wchar_t>(pack::UpcaseUnit(static_cast<char16_t>(unit)));
        const wchar_t system = upcase(static_cast<WCHAR>(unit)), self = static_cast<wchar_t>(unit);
        if (ours != system) {
            if (++differ <= 5)
                ADD_FAILURE() << std::hex << unit << ": ours " << ours << ", system " << system;
        } else if (::CompareStringOrdinal(&self, 1, &ours, 1, TRUE) != CSTR_EQUAL) {
            if (++differ <= 5)
                ADD_FAILURE() << std::hex << unit << " and " << ours
                              << " differ to the ordinal compare";
        }
    }
    EXPECT_EQ(differ, 0);
}

}  // namespace

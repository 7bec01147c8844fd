#include "sys/trust_rules.h"

#include <gtest/gtest.h>

namespace {

struct TypeCase {
    const wchar_t* path;
    int verifiable;
    int portableExecutable;
};

TEST(TrustRules, FileTypeFollowsTheLastDotOfTheWholePath)
{
    const TypeCase cases[] = {
        {L"C:\\Temp\\update.exe", 1, 1},
        {L"C:\\Temp\\UPDATE.EXE", 1, 1},
        {L"C:\\Temp\\lib.Dll", 1, 1},
        {L"C:\\Temp\\script.VBS", 1, 0},
        {L"C:\\Temp\\setup.mSi", 1, 0},
        {L"C:\\Temp\\update.exe.zip", 0, 0},
        {L"C:\\Temp\\pkg.new\\setup", 0, 0},  // extension "new\setup"
        {L"C:\\Temp\\setup", 0, 0},           // no dot: the whole path is the extension
        {L"exe", 1, 1},                       // ... which matches when it is one of the four
        {L"msi", 1, 0},
        {L"C:\\Temp\\update.", 0, 0},
        {L"C:\\Temp\\update.exe ", 0, 0},
        {L"C:\\Temp\\update.ex\u00C9", 0, 0},  // only ASCII letters fold
        {L"", 0, 0},
    };
    for (const TypeCase& c : cases) {
        EXPECT_EQ(trust::IsVerifiableFileType(c.path), c.verifiable) << c.path;
        EXPECT_EQ(trust::IsPortableExecutableType(c.path), c.portableExecutable) << c.path;
    }
}

TEST(TrustRules, MarkIsAnAsciiCaseFreeSubstringOfTheSignerName)
{
    struct {
        const wchar_t* name;
        int hasMark;
    } cases[] = {
        {L"KAVRO", 1},
        {L"Kavro Systems Inc.", 1},
        {L"Dekavroline Software", 1},
        {L"kAvRo", 1},
        {L"\u00C9kavro\u00DC", 1},         // accented neighbours stay as they are
        {L"K\u00C0VRO", 0},                // an accented letter is no A
        {L"KAV RO", 0},
        {L"Other Signer Ltd", 0},
        {L"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(trust::SignerNameHasMark(c.name), c.hasMark) << c.name;
}

}  // namespace

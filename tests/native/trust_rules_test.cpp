#include "sys/trust_rules.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include <ostream>
#include <string>
#include <vector>

namespace sys {
void PrintTo(PackageKind kind, std::ostream* out)
{
    static const char* const names[] = {"None", "PortableExecutable", "InstallerDatabase",
                                        "Script"};
    *out << names[static_cast<int>(kind)];
}
}  // namespace sys

namespace {

using sys::PackageKind;
using Bytes = std::vector<unsigned char>;

constexpr PackageKind kPe = PackageKind::PortableExecutable;
constexpr PackageKind kMsi = PackageKind::InstallerDatabase;
constexpr PackageKind kScript = PackageKind::Script;
constexpr PackageKind kNone = PackageKind::None;

TEST(TrustRules, FileTypeFollowsTheLastDotOfTheWholePath)
{
    const struct {
        const wchar_t* path;
        PackageKind named;
    } cases[] = {
        {L"C:\\Temp\\update.exe", kPe},
        {L"C:\\Temp\\UPDATE.EXE", kPe},
        {L"C:\\Temp\\lib.Dll", kPe},
        {L"C:\\Temp\\script.VBS", kScript},
        {L"C:\\Temp\\setup.mSi", kMsi},
        {L"C:\\Temp\\update.exe.zip", kNone},
        {L"C:\\Temp\\pkg.new\\setup", kNone},  // extension "new\setup"
        {L"C:\\Temp\\setup", kNone},           // no dot: the whole path is the extension
        {L"exe", kPe},                         // ... which matches when it is one of the four
        {L"msi", kMsi},
        {L"C:\\Temp\\update.", kNone},
        {L"C:\\Temp\\update.exe ", kNone},
        {L"C:\\Temp\\update.ex\u00C9", kNone},  // only ASCII letters fold
        {L"", kNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sys::KindOfName(c.path), c.named) << c.path;
        EXPECT_EQ(sys::IsVerifiableFileType(c.path), c.named != kNone ? 1 : 0) << c.path;
    }
}

// The first bytes of a PE image: "MZ", the header offset at 0x3C, "PE\0\0" there.
Bytes PeHead(uint32_t at = 0x80)
{
    Bytes b(at + 0x100, 0);
    b[0] = 'M';
    b[1] = 'Z';
    for (int i = 0; i < 4; ++i) b[0x3C + i] = static_cast<unsigned char>(at >> (8 * i));
    b[at] = 'P';
    b[at + 1] = 'E';
    return b;
}

Bytes CompoundFileHead()
{
    Bytes b = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    b.resize(512, 0);
    return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(TrustRules, KindIsReadFromTheContent)
{
    Bytes wrongSignature = PeHead();
    wrongSignature[0x82] = 'X';
    Bytes headerOutOfReach = PeHead(4096);  // signature beyond the bytes we look at
    Bytes peLast = PeHead(0x40);
    peLast.resize(0x44);  // the signature's last byte is the last one given
    const struct {
        const char* name;
        Bytes head;
        PackageKind kind;
    } cases[] = {
        {"PE image", PeHead(), kPe},
        {"PE signature ends the head", peLast, kPe},
        {"installer database", CompoundFileHead(), kMsi},
        {"VBScript", Text("WScript.Echo \"x\"\r\n"), kScript},
        {"UTF-16 script", {0xFF, 0xFE, 'W', 0, 'S', 0}, kScript},
        {"DOS stub without PE header", wrongSignature, kNone},
        {"PE header out of reach", headerOutOfReach, kNone},
        {"MZ alone", Text("MZ"), kNone},
        {"script starting with MZ", Text("MZ = 1\r\nWScript.Echo MZ\r\n"), kNone},
        {"script starting with NZ", Text("NZ = 1\r\n"), kScript},  // only "MZ" asks for a PE
        {"script starting with Mz", Text("Mz = 1\r\n"), kScript},
        {"script starting with M=", Text("M=1\r\n"), kScript},
        {"PE signature cut short", Bytes(peLast.begin(), peLast.end() - 1), kNone},
        {"empty", {}, kNone},
    };
    for (const auto& c : cases) {
        const Bytes copy = c.head;  // exactly the bytes given, so ASan sees any overread
        EXPECT_EQ(sys::KindOfContent(copy.empty() ? nullptr : copy.data(), copy.size()), c.kind)
            << c.name;
    }
}

// A name whose type disagrees with the content is refused, whichever way round.
TEST(TrustRules, NameMustPromiseWhatTheContentIs)
{
    const Bytes pe = PeHead();
    const Bytes msi = CompoundFileHead();
    const Bytes script = Text("WScript.Echo 1\r\n");
    const struct {
        const wchar_t* name;
        const Bytes& head;
        PackageKind kind;
    } cases[] = {
        {L"update.exe", pe, kPe},      {L"LIB.DLL", pe, kPe},      {L"setup.msi", msi, kMsi},
        {L"run.vbs", script, kScript}, {L"update.msi", pe, kNone}, {L"update.vbs", pe, kNone},
        {L"setup.exe", msi, kNone},    {L"setup.vbs", msi, kNone}, {L"run.exe", script, kNone},
        {L"run.msi", script, kNone},   {L"update.zip", pe, kNone}, {L"pkg.new\\setup", pe, kNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sys::ClassifyPackage(c.name, c.head.data(), c.head.size()), c.kind) << c.name;
}

TEST(TrustRules, MarkIsAnAsciiCaseFreeSubstringOfTheSignerName)
{
    struct {
        const wchar_t* name;
        bool hasMark;
    } cases
        [] =
            {
                {L"KAVRO", true},
                {L"Kavro Systems Inc.", true},
                {L"Dekavroline Software", true},
                {L"kAvRo", true},
                {L"\u00C9kavro\u00DC", true},  // accented neighbours stay as they are
                {L"K\u00C0VRO", false},        // an accented letter is no A
                {L"KAV RO", false},
                {L"Other Signer Ltd", false},
                {L"", false},
            };
    for (const auto& c : cases) EXPECT_EQ(sys::SignerNameHasMark(c.name), c.hasMark) << c.name;
}

TEST(TrustRules, PinnedKeyMustBeOneOfThePins)
{
    unsigned char hash[sys::kKeyHashBytes];
    for (size_t i = 0; i < sizeof hash; ++i) hash[i] = static_cast<unsigned char>(0xA0 + i);
    const std::string hex = "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf";
    const std::string other = "00" + hex.substr(2);
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    EXPECT_TRUE(sys::IsKeyPinned(hash, {}));  // no pins: the name rule alone decides
    EXPECT_TRUE(sys::IsKeyPinned(nullptr, {}));
    EXPECT_TRUE(sys::IsKeyPinned(hash, {hex}));
    EXPECT_TRUE(sys::IsKeyPinned(hash, {upper}));
    EXPECT_TRUE(sys::IsKeyPinned(hash, {other, hex}));  // a rotation: old and new key
    EXPECT_FALSE(sys::IsKeyPinned(hash, {other}));
    EXPECT_FALSE(sys::IsKeyPinned(hash, {"ff" + hex.substr(2)}));  // a byte above, as one below
    EXPECT_FALSE(sys::IsKeyPinned(nullptr, {hex}));                // a key that could not be read
    EXPECT_FALSE(sys::IsKeyPinned(hash, {hex.substr(0, 62)}));     // a prefix is no pin
    EXPECT_FALSE(sys::IsKeyPinned(hash, {hex + "00"}));
    EXPECT_FALSE(sys::IsKeyPinned(hash, {"g" + hex.substr(1)}));
    // A character that is no hex digit refuses the pin, even where reading it as some value
    // would give the right byte: 'g' as 0 in "a0" or as 1 in "a1", ':' as 3 in "a3", and an
    // invalid low digit after a high one a step up ("bg" for "af": 11 * 16 - 1).
    const struct {
        size_t at;
        const char* digits;
    } corrupt[] = {{1, "g"}, {3, "g"}, {7, ":"}, {30, "bg"}};
    for (const auto& c : corrupt) {
        const std::string pin =
            hex.substr(0, c.at) + c.digits + hex.substr(c.at + std::strlen(c.digits));
        EXPECT_FALSE(sys::IsKeyPinned(hash, {pin})) << pin;
    }
    // High digits of 0 and 1 read as well as the others.
    unsigned char low[sys::kKeyHashBytes];
    std::string lowHex;
    for (size_t i = 0; i < sizeof low; ++i) {
        low[i] = static_cast<unsigned char>(i);
        lowHex += "0123456789abcdef"[i >> 4];
        lowHex += "0123456789abcdef"[i & 15];
    }
    EXPECT_TRUE(sys::IsKeyPinned(low, {lowHex}));
    for (std::string_view pin : sys::BuiltInKeyPins()) EXPECT_EQ(pin.size(), 64u) << pin;
}

}  // namespace

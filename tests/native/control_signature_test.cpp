#include "rules/control_signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text_bytes.h"

namespace {

using rules::ControlForm;

// "AQID" is the base64 of the three bytes 1, 2, 3.
const std::vector<unsigned char> kSignature = {1, 2, 3};

const unsigned char* Bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

ControlForm Split(const std::string& file, rules::SignedControl* split)
{
    return rules::SplitControlFile(Bytes(file), file.size(), split);
}

// Where the body ends, and what is a signature section at all: one table of files, CRLF and
// LF, 8-bit and UTF-16.
TEST(ControlSignature, SplitsTheBodyFromItsSignatureSection)
{
    const std::string body = "[KV]\r\nRevision=6\r\n";
    const std::wstring wideBody = L"[KV]\r\nRevision=6\r\n";
    struct Case {
        std::string file;
        ControlForm form;
        size_t bodyLength;
    } cases[] = {
        {body + "[Signature]\r\nPKCS7=AQID\r\n", ControlForm::Signed, body.size()},
        {body + "[Signature]\r\nPKCS7=AQID", ControlForm::Signed, body.size()},
        {"[KV]\nRevision=6\n[Signature]\nPKCS7=AQID\n", ControlForm::Signed, 16},
        {"\xEF\xBB\xBF" + body + "[Signature]\r\nPKCS7=AQID\r\n", ControlForm::Signed,
         body.size() + 3},
        // UTF-16: the body keeps its mark, the section is UTF-16 too.
        {testtext::Utf16(wideBody + L"[Signature]\r\nPKCS7=AQID\r\n"), ControlForm::Signed,
         2 + 2 * wideBody.size()},
        // ...and the 8-bit section after a UTF-16 body is no section: unsigned.
        {testtext::Utf16(wideBody) + "[Signature]\r\nPKCS7=AQID\r\n", ControlForm::OddUtf16Length,
         0},
        {testtext::Utf16(wideBody) + "[Signature]\r\nPKCS7=AQID\r\n ", ControlForm::Unsigned, 0},
        {body, ControlForm::Unsigned, 0},
        {"", ControlForm::Unsigned, 0},
        // Only a line that reads exactly [Signature] starts the section.
        {body + "Note=[Signature]\r\nPKCS7=AQID\r\n", ControlForm::Unsigned, 0},
        {body + " [Signature]\r\nPKCS7=AQID\r\n", ControlForm::Unsigned, 0},
        {body + "[signature]\r\nPKCS7=AQID\r\n", ControlForm::Unsigned, 0},
        {body + "[Signature] \r\nPKCS7=AQID\r\n", ControlForm::Unsigned, 0},
        {body + "\r[Signature]\r\nPKCS7=AQID\r\n", ControlForm::Unsigned, 0},
        {"[Signature]\r\nPKCS7=AQID\r\n", ControlForm::EmptyBody, 0},
        // Bytes after the signature, a second section, another key.
        {body + "[Signature]\r\nPKCS7=AQID\r\n\r\n", ControlForm::BytesAfter, 0},
        {body + "[Signature]\r\nPKCS7=AQID\r\n[Signature]\r\nPKCS7=AQID\r\n",
         ControlForm::BytesAfter, 0},
        {body + "[Signature]\r\nPKCS7=AQID\r\n[KV]\r\nRevision=99\r\n", ControlForm::BytesAfter, 0},
        {body + "[Signature]\r\nPKCS7=AQID\n\n", ControlForm::BytesAfter, 0},
        {body + "[Signature]\r\nPKCS7=AQID\r\r\n", ControlForm::NotBase64, 0},
        {body + "[Signature]\r\n", ControlForm::NotOneKey, 0},
        {body + "[Signature]", ControlForm::NotOneKey, 0},
        {body + "[Signature]\r\npkcs7=AQID\r\n", ControlForm::NotOneKey, 0},
        {body + "[Signature]\r\n\r\nPKCS7=AQID\r\n", ControlForm::NotOneKey, 0},
        {body + "[Signature]\r\nPKCS7 = AQID\r\n", ControlForm::NotOneKey, 0},
        {body + "[Signature]\r\nPKCS7= AQID\r\n", ControlForm::NotBase64, 0},
        {body + "[Signature]\r\nPKCS7=\r\n", ControlForm::NotBase64, 0},
        {body + "[Signature]\r\nPKCS7=AQ\r\nID\r\n", ControlForm::NotBase64, 0},
        {std::string("\xFF\xFE\x41", 3), ControlForm::OddUtf16Length, 0},
    };
    for (const auto& c : cases) {
        rules::SignedControl split;
        split.bodyLength = 99;
        EXPECT_EQ(Split(c.file, &split), c.form) << testing::PrintToString(c.file);
        EXPECT_EQ(split.bodyLength, c.bodyLength) << testing::PrintToString(c.file);
        EXPECT_EQ(split.signature,
                  c.form == ControlForm::Signed ? kSignature : std::vector<unsigned char>())
            << testing::PrintToString(c.file);
    }
}

TEST(ControlSignature, Utf16BigEndianKeepsItsOrder)
{
    std::string file = "\xFE\xFF";
    for (char c : std::string("[KV]\nR=1\n[Signature]\nPKCS7=AQID\n")) file += '\0', file += c;
    rules::SignedControl split;
    EXPECT_EQ(Split(file, &split), ControlForm::Signed);
    EXPECT_EQ(split.bodyLength, 2u + 2 * 9);
    // A character outside ASCII in the value is no base64 digit, whatever its low byte.
    file = testtext::Utf16(L"[KV]\r\n[Signature]\r\nPKCS7=AQI\u0144\r\n");
    EXPECT_EQ(Split(file, &split), ControlForm::NotBase64);
}

TEST(ControlSignature, Base64IsStrict)
{
    struct Case {
        const wchar_t* text;
        bool valid;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {L"AQID", true, {1, 2, 3}},
        {L"AQI=", true, {1, 2}},
        {L"AQ==", true, {1}},
        {L"+/+/", true, {0xFB, 0xFF, 0xBF}},
        {L"AQIDBA==", true, {1, 2, 3, 4}},
        {L"", false, {}},
        {L"AQI", false, {}},       // unpadded
        {L"AQIDB", false, {}},     // not a multiple of four
        {L"A===", false, {}},      // three pads
        {L"AQ=D", false, {}},      // a pad inside
        {L"AQ==AQID", false, {}},  // padding before the end
        {L"AR==", false, {}},      // bits past the last byte
        {L"AQJ=", false, {}},
        {L"AQ-_", false, {}},  // the URL alphabet
        {L"AQ D", false, {}},
        {L"AQ\nD", false, {}},
        {L"A=ID", false, {}},
        {L"AQI\u0144", false, {}},  // a letter whose low byte is no digit either
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> bytes = {9};
        EXPECT_EQ(rules::DecodeBase64(c.text, &bytes), c.valid) << testing::PrintToString(c.text);
        EXPECT_EQ(bytes, c.bytes) << testing::PrintToString(c.text);
    }
    for (size_t length = 0; length < 8; ++length) {
        std::vector<unsigned char> data(length);
        for (size_t i = 0; i < length; ++i) data[i] = static_cast<unsigned char>(0xF0 + 7 * i);
        std::vector<unsigned char> back;
        const std::string text = rules::EncodeBase64(data.data(), data.size());
        EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
        EXPECT_EQ(rules::DecodeBase64(std::wstring(text.begin(), text.end()), &back), length > 0)
            << text;
        EXPECT_EQ(back, length > 0 ? data : std::vector<unsigned char>());
    }
}

// What the packer appends reads back, in the body's own encoding and line ends.
TEST(ControlSignature, TheSectionWrittenForABodySplitsBack)
{
    const std::vector<unsigned char> signature = {0x30, 0x82, 0x01, 0xFF, 0x00};
    const std::string bodies[] = {"[KV]\r\nRevision=6\r\n", "[KV]\nRevision=6\n",
                                  testtext::Utf16(L"[KV]\r\nRevision=6\r\n"),
                                  std::string("\xFE\xFF\0[\0K\0V\0]\0\n", 12)};
    for (const std::string& body : bodies) {
        const std::vector<unsigned char> section =
            rules::SignatureSection(Bytes(body), body.size(), signature);
        const std::string file = body + std::string(section.begin(), section.end());
        rules::SignedControl split;
        EXPECT_EQ(Split(file, &split), ControlForm::Signed) << testing::PrintToString(file);
        EXPECT_EQ(split.bodyLength, body.size());
        EXPECT_EQ(split.signature, signature);
        // The line ends follow the body's.
        EXPECT_EQ(file.find("\r\n") != std::string::npos ||
                      file.find(std::string("\r\0\n", 3)) != std::string::npos,
                  body.find('\r') != std::string::npos);
    }
}

TEST(ControlSignature, ABodyToSignEndsInALineBreakAndHoldsNoSignatureLine)
{
    struct Case {
        std::string body;
        rules::BodyProblem problem;
    } cases[] = {
        {"[KV]\r\nRevision=6\r\n", rules::BodyProblem::None},
        {"[KV]\nRevision=6\n", rules::BodyProblem::None},
        {"[KV]\r\nNote=[Signature]\r\n", rules::BodyProblem::None},
        {"[KV]\r\nRevision=6", rules::BodyProblem::NoFinalLineBreak},
        {"[KV]\r\nRevision=6\r", rules::BodyProblem::NoFinalLineBreak},
        {"", rules::BodyProblem::Empty},
        {"[KV]\r\n[Signature]\r\nPKCS7=AQID\r\n", rules::BodyProblem::HoldsSignatureLine},
        {"[Signature]\n", rules::BodyProblem::HoldsSignatureLine},
        {testtext::Utf16(L"[KV]\r\n"), rules::BodyProblem::None},
        {testtext::Utf16(L"[KV]"), rules::BodyProblem::NoFinalLineBreak},
        {testtext::Utf16(L"[Signature]\r\n"), rules::BodyProblem::None},  // the mark comes first
        {testtext::Utf16(L"\r\n[Signature]\r\n"), rules::BodyProblem::HoldsSignatureLine},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rules::CheckBodyToSign(Bytes(c.body), c.body.size()), c.problem)
            << testing::PrintToString(c.body);
}

TEST(ControlSignature, ExpiresIsOneUtcFormAndHoldsUntilItsSecond)
{
    struct Case {
        const wchar_t* text;
        bool valid;
        std::int64_t seconds;
    } cases[] = {
        {L"1970-01-01T00:00:00Z", true, 0},          {L"2026-12-11T10:06:02Z", true, 1796983562},
        {L"2000-02-29T23:59:59Z", true, 951868799},  {L"2026-06-30T12:00:00Z", true, 1782820800},
        {L"2038-01-19T03:14:08Z", true, 2147483648},  // past 32 bits
        {L"1969-12-31T23:59:59Z", true, -1},         {L"9999-12-31T23:59:59Z", true, 253402300799},
        {L"1900-02-29T00:00:00Z", false, 0},  // not a leap year
        {L"2026-02-29T00:00:00Z", false, 0},         {L"2026-04-31T00:00:00Z", false, 0},
        {L"2026-13-01T00:00:00Z", false, 0},         {L"2026-00-01T00:00:00Z", false, 0},
        {L"2026-01-00T00:00:00Z", false, 0},         {L"2026-01-01T24:00:00Z", false, 0},
        {L"2026-01-01T00:60:00Z", false, 0},         {L"2026-01-01T00:00:60Z", false, 0},
        {L"2026-01-01T00:00:00", false, 0},          {L"2026-01-01 00:00:00Z", false, 0},
        {L"2026-01-01T00:00:00+01:00", false, 0},    {L"2026-1-01T00:00:00Z", false, 0},
        {L"2026-01-01T00:00:0xZ", false, 0},         {L"+026-01-01T00:00:00Z", false, 0},
        {L"2026-01-01t00:00:00z", false, 0},         {L"", false, 0},
    };
    for (const auto& c : cases) {
        std::int64_t seconds = 0;
        EXPECT_EQ(rules::ParseUtcTime(c.text, &seconds), c.valid) << c.text;
        if (!c.valid) continue;
        EXPECT_EQ(seconds, c.seconds) << c.text;
        EXPECT_EQ(rules::FormatUtcTime(seconds), c.text);
    }
    // Each month's last day holds and the day after it does not; the next month's first day is
    // one day later.
    const int lastDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int month = 1; month <= 12; ++month) {
        const std::wstring prefix =
            L"2026-" + std::wstring(month < 10 ? L"0" : L"") + std::to_wstring(month) + L"-";
        std::int64_t last = 0, first = 0, next = 0;
        EXPECT_TRUE(rules::ParseUtcTime(
            prefix + std::to_wstring(lastDays[month - 1]) + L"T00:00:00Z", &last))
            << month;
        EXPECT_FALSE(rules::ParseUtcTime(
            prefix + std::to_wstring(lastDays[month - 1] + 1) + L"T00:00:00Z", &next))
            << month;
        if (month < 12) {
            EXPECT_TRUE(rules::ParseUtcTime(L"2026-" + std::wstring(month < 9 ? L"0" : L"") +
                                                std::to_wstring(month + 1) + L"-01T00:00:00Z",
                                            &first));
            EXPECT_EQ(first - last, 86400) << month;
        }
    }
    EXPECT_FALSE(rules::IsExpired(100, 99));
    EXPECT_FALSE(rules::IsExpired(100, 100));
    EXPECT_TRUE(rules::IsExpired(100, 101));
    EXPECT_TRUE(rules::IsExpired(-1, 2147483648));
    // 2026-12-11T10:06:02Z as a FILETIME, and a tick before the second ends.
    EXPECT_EQ(rules::UnixSecondsFromFileTime(134414571620000000ull), 1796983562);
    EXPECT_EQ(rules::UnixSecondsFromFileTime(134414571629999999ull), 1796983562);
    EXPECT_EQ(rules::UnixSecondsFromFileTime(116444736000000000ull), 0);
}

}  // namespace

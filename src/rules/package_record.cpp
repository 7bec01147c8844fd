#include "rules/package_record.h"

#include <string_view>

#include "rules/names.h"
#include "rules/wstr.h"

namespace rules {
namespace {

constexpr size_t kMaxSectionChars = 259;

bool IsRevisionText(std::string_view text, uint32_t* value)
{
    unsigned long long number = 0;
    if (!ParseRevision(text.data(), text.size(), &number)) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

bool IsSectionName(const std::wstring& section)
{
    if (section.empty() || section.size() > kMaxSectionChars) return false;
    for (wchar_t c : section)
        if (c < 0x20 || c == 0x7F || c == L'[' || c == L']') return false;
    return true;
}

// The record's values as given (views into `text`), or false when the text is not exactly
// kPackageRecordLines lines.
bool SplitLines(std::string_view text, std::string_view (&values)[kPackageRecordLines])
{
    size_t at = 0;
    for (size_t i = 0; i < kPackageRecordLines; ++i) {
        const std::string_view key = kPackageRecordKeys[i];
        const size_t end = text.find('\n', at);
        // The key holds no line feed, so a line that starts with it ends after it.
        if (end == std::string_view::npos || text.compare(at, key.size(), key) != 0) return false;
        values[i] = text.substr(at + key.size(), end - at - key.size());
        at = end + 1;
    }
    return at == text.size();
}

}  // namespace

bool ReadPackageRecord(const unsigned char* bytes, size_t length, PackageRecord* out)
{
    if (!bytes || length > kMaxPackageRecordBytes) return false;
    std::string_view values[kPackageRecordLines];
    if (!SplitLines(std::string_view(reinterpret_cast<const char*>(bytes), length), values) ||
        values[0] != kPackageRecordVersion)
        return false;
    PackageRecord record;
    if (!DecodeUtf8(values[1], &record.section) || !IsSectionName(record.section) ||
        !IsRevisionText(values[2], &record.revision) || !DecodeUtf8(values[3], &record.folder) ||
        !IsPlainFileName(record.folder) || !DecodeUtf8(values[4], &record.wizard) ||
        !IsSafeExePath(record.folder + L"\\" + record.wizard))
        return false;
    *out = std::move(record);
    return true;
}

RecordMatch MatchPackageRecord(const PackageRecord& record, const std::wstring& drvName,
                               int32_t offeredRevision, int32_t installedRevision,
                               const std::wstring& exePath)
{
    if (!IsSameProfileName(TrimProfileBlanks(record.section), TrimProfileBlanks(drvName)))
        return RecordMatch::OtherSection;
    if (record.revision != static_cast<uint32_t>(offeredRevision))
        return RecordMatch::OtherRevision;
    if (record.revision <= static_cast<uint32_t>(installedRevision)) return RecordMatch::NotNewer;
    if (!IsSameProfileName(exePath, record.folder + L"\\" + record.wizard))
        return RecordMatch::OtherExePath;
    return RecordMatch::Matches;
}

const wchar_t* DescribeRecordMatch(RecordMatch match)
{
    switch (match) {
    case RecordMatch::Matches: return L"matches the offer";
    case RecordMatch::OtherSection: return L"was packed for another section";
    case RecordMatch::OtherRevision: return L"is another revision than the one offered";
    case RecordMatch::NotNewer: return L"is not newer than the installed revision";
    case RecordMatch::OtherExePath: return L"does not hold the offered ExePath";
    }
    return L"unknown";
}

}  // namespace rules

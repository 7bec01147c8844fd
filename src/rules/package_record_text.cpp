#include "rules/package_record.h"

namespace rules {

std::string EncodePackageRecord(const std::string& section, const std::string& revision,
                                const std::string& folder, const std::string& wizard)
{
    const std::string values[kPackageRecordLines] = {kPackageRecordVersion, section, revision,
                                                     folder, wizard};
    std::string text;
    for (size_t i = 0; i < kPackageRecordLines; ++i)
        text += kPackageRecordKeys[i] + values[i] + "\n";
    PackageRecord check;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    if (text.size() > kMaxPackageRecordBytes || !ReadPackageRecord(bytes, text.size(), &check))
        return std::string();
    return text;
}

}  // namespace rules

#include "sys/package_file.h"

#include "rules/pe_headers.h"
#include "win/handles.h"

namespace sys {

bool ReadPackageRecord(HANDLE lockedFile, rules::PackageRecord* out)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(lockedFile, &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX)
        return false;
    // Mapped, not read: the resource directory may lie anywhere in a package of any size, and
    // the pages the walk never touches are never read.
    const win::Handle mapping(
        ::CreateFileMappingW(lockedFile, nullptr, PAGE_READONLY, 0, 0, nullptr));
    const win::MappedView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0)
                                       : nullptr);
    if (!view) return false;
    const auto* image = static_cast<const unsigned char*>(view.get());
    const size_t length = static_cast<size_t>(size.QuadPart);
    rules::PeSpan record;
    return rules::FindPeResource(image, length, rules::kPeRcData, rules::kPackageRecordId,
                                 &record) &&
           rules::ReadPackageRecord(image + record.offset, static_cast<size_t>(record.length), out);
}

}  // namespace sys

// What a judged package says it is, read from the locked file itself.
#pragma once
#include <windows.h>

#include "rules/package_record.h"

namespace sys {

// Reads the package's record (rules/package_record.h) from its resources, through `lockedFile`
// (a handle from sys::VerifyPackage, which shuts out writers), never by name again. False when
// the file is no PE image, holds no record, or the record is malformed.
bool ReadPackageRecord(HANDLE lockedFile, rules::PackageRecord* out);

}  // namespace sys

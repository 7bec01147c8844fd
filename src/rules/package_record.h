// What a signed package says it is. The packer puts this record into the package's resources
// before the package is signed, so the signature covers it; Morvane reads it from the judged
// file and runs the package only when it is the very package the control file offers. A man in
// the middle of the control file can then no longer offer an older signed package as the
// newest, another product's package, any other program the maker signed, or an ExePath
// outside the folder the package makes.
//
// The record is UTF-8 text, five lines each ending in a line feed, in this order:
//   Morvane-Package: 1
//   Section: KV Universal
//   Revision: 7
//   Folder: KVNew
//   Wizard: KVWizard.exe
// Nothing else may stand before, between or after them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace rules {

// The record's place among the package's resources: RT_RCDATA, this id (the payload is 1).
constexpr uint32_t kPackageRecordId = 2;
constexpr size_t kMaxPackageRecordBytes = 4096;

// Each line's key, and the version the first line carries.
constexpr size_t kPackageRecordLines = 5;
inline constexpr const char* kPackageRecordKeys[kPackageRecordLines] = {
    "Morvane-Package: ", "Section: ", "Revision: ", "Folder: ", "Wizard: "};
inline constexpr const char kPackageRecordVersion[] = "1";

struct PackageRecord {
    std::wstring section;   // the control-file section (DRVNAME) it was packed for
    uint32_t revision = 0;  // 1 to 2147483647
    std::wstring folder;    // the folder it unpacks, directly below the temporary folder
    std::wstring wizard;    // the wizard's path inside that folder, '\' between levels
};

// The record's text for UTF-8 values as the packer was given them; empty when one of them
// could not be read back as given (see ReadPackageRecord). Only the packer writes records, so
// this lives in a file of its own (package_record_text.cpp): mingw's linker keeps every
// function of an object it takes, and Morvane.exe, which only reads records, links no
// narrow-string code.
std::string EncodePackageRecord(const std::string& section, const std::string& revision,
                                const std::string& folder, const std::string& wizard);

// Reads the record's bytes; false for anything but the form above with: a section of 1 to 259
// characters without brackets or control characters, a decimal revision from 1 to 2147483647
// without leading zeros, a folder that is a plain file name and a wizard path whose every level
// is one.
bool ReadPackageRecord(const unsigned char* bytes, size_t length, PackageRecord* out);

enum class RecordMatch {
    Matches,
    OtherSection,   // packed for another product
    OtherRevision,  // not the revision offered
    NotNewer,       // the offered revision is not above the installed one
    OtherExePath,   // ExePath is not the recorded folder and wizard
};

// Holds a package's record against what the control file offered (its Revision and ExePath)
// and what the installation is (its DRVNAME and InstallerRevision). The section is compared as
// the control file's section names are (blanks around it trimmed, ASCII case ignored);
// revisions as unsigned 32-bit numbers; ExePath must be folder\wizard, ASCII case ignored.
RecordMatch MatchPackageRecord(const PackageRecord& record, const std::wstring& drvName,
                               int32_t offeredRevision, int32_t installedRevision,
                               const std::wstring& exePath);

// For the trail: "matches", "another section"...
const wchar_t* DescribeRecordMatch(RecordMatch match);

}  // namespace rules

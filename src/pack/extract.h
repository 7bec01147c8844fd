// The extractor's work: unpack a payload into the temporary folder, all or nothing.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace pack {

// The package's exit codes.
enum ExitCode {
    kExtracted = 0,
    kNoPayload = 1,     // no RT_RCDATA 1 resource
    kBadPayload = 2,    // header, table, a name or a size fails the payload rules
    kBadDigest = 3,     // the SHA-256 does not match the payload
    kNoTempFolder = 4,  // neither TEMP nor TMP names an existing folder
    kWriteFailed = 5,   // a folder or file could not be made; everything written is removed
    kUnexpected = 6,    // the administrators-only descriptor could not be made
    kFolderExists = 7,  // temp\<folder> exists already (anything by that name): nothing written
};

// The temporary folder as Morvane finds it: TEMP, else TMP, exactly as the environment gives
// it (GetTempPathW prefers TMP and would unpack where Morvane does not look). Empty when
// neither is set.
std::wstring TemporaryFolder();

// Checks the payload's rules, then creates temp\<its folder> fresh (refused when anything has
// that name) and unpacks into it, hashing as it writes: files stay under temporary names
// until the digest has matched, and only then take their real names. Elevated, the folder
// gets a protected descriptor (win::AdminOnlyFolder) that the tree inherits. On failure every
// file written and every folder made is removed, through the handles that made them.
ExitCode Extract(const unsigned char* payload, size_t length, const std::wstring& temp);

}  // namespace pack

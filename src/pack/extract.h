// The extractor's work: unpack a payload into the temporary folder, all or nothing.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace sfx {

// The package's exit codes.
enum ExitCode {
    kExtracted = 0,
    kNoPayload = 1,      // no RT_RCDATA 1 resource
    kBadPayload = 2,     // header, table, a name or a size fails the payload rules
    kBadDigest = 3,      // the SHA-256 does not match the payload
    kNoTempFolder = 4,   // neither TEMP nor TMP names an existing folder
    kWriteFailed = 5,    // a folder or file could not be made; everything written is removed
    kUnexpected = 6,     // out of memory and the like
};

// The temporary folder as Morvane finds it: TEMP, else TMP, exactly as the environment gives
// it (GetTempPathW prefers TMP and would unpack where Morvane does not look). Empty when
// neither is set.
std::wstring TemporaryFolder();

// Checks the payload (rules, then digest) before anything is written, then unpacks it into
// temp\<its folder>. An existing folder there is reused, so a retried update unpacks over
// what an earlier run left. On failure every file written and every folder made is removed.
int Extract(const unsigned char* payload, size_t length, const std::wstring& temp);

}  // namespace sfx

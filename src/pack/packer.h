// The publisher's side: turns a folder into a package (the extractor image with the folder as
// its payload) and writes the control-file section that offers it. Portable C++17 with
// std::filesystem, so the same sources build the Linux and the Windows morvane-pack.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pack/pack_fault.h"
#include "pack/payload.h"

namespace pack {

namespace fs = std::filesystem;

// The name every package's folder holds its wizard under: staging copies the local
// KVWizard.exe in when the package brings none.
constexpr const char* kWizardName = "KVWizard.exe";

struct SourceEntry {
    EntryKind kind = EntryKind::Folder;
    std::string name;  // as it will be stored: UTF-8, '/' between levels
    uint64_t size = 0;
    fs::path path;  // where the packer reads it from
};

// Lists a folder's tree: each folder before what it holds, names in byte order, so the same
// folder always gives the same package. Refused for a symbolic link, a special file, a name
// that Windows cannot take literally, or two names of one folder that Windows takes for one
// ("a.txt" and "A.TXT").
PackFault CollectTree(const fs::path& from, std::vector<SourceEntry>* out);

struct PackStats {
    uint64_t folders = 0, files = 0, bytes = 0;
};

// What the package says it is, in the record its signature covers (rules/package_record.h):
// the control-file section it is packed for and its revision.
struct PackageIdentity {
    std::string section;
    std::string revision;  // decimal, 1 to 2147483647
};

// Writes the package: the stub image with a resource section holding the manifest, the
// package's record (the identity, the folder and kWizardName) and the payload. Written to a
// temporary name beside `out` and renamed into place when complete; on any fault nothing is
// left behind. File contents are streamed, never held whole; a file whose size
// changes while it is packed fails the run.
PackFault WritePackage(const fs::path& stub, const std::vector<SourceEntry>& tree,
                       const std::string& folder, const PackageIdentity& identity,
                       const fs::path& out, PackStats* stats);

// The staged rollout's percentage as Morvane reads Rollout=: a whole number from 0 to 100 in
// plain digits (it reads anything else as 0, a halt).
bool IsRolloutPercent(const std::string& text);

// The control-file section for a package in `text`: name, DownloadUrl, ExePath
// (folder\KVWizard.exe) and Revision, one key per line. Refused, `text` untouched, when a value
// could not be read back as given: a section name with brackets or line breaks, a revision
// that is not a decimal number from 1 to 2147483647, a URL that is not http(s), holds blanks
// or backslashes, is longer than the 259 characters a value may have, or whose last part (the
// package's name in the temporary folder) is empty or the folder's own name.
PackProblem ControlSection(const std::string& section, const std::string& revision,
                           const std::string& url, const std::string& folder, std::string* text);

// The manifest the package carries: run as the invoker. Without one, Windows takes a
// program named like "KVSetup.exe" for an installer and asks for elevation itself.
const std::string& PackageManifest();

}  // namespace pack

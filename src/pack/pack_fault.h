// Why the packer refused, as a value: the problem, and the names it concerns, so the command
// line can say which file and the tests can tell one refusal from another.
#pragma once
#include <string>
#include <system_error>
#include <utility>

namespace pack {

enum class PackProblem {
    None,
    // The source folder.
    NotAFolder,        // subject: the path given
    CannotList,        // subject: the folder; error
    NotLiteralName,    // subject: the entry, as stored
    OneNameOnWindows,  // subject and other: two names of one folder
    CannotRead,        // subject: the entry; error
    SpecialFile,       // subject: the entry
    // The package.
    NotLiteralFolderName,  // subject: the folder's name
    BadIdentity,           // the section or the revision cannot go into the package's record
    CannotReadStub,        // subject: the extractor's path
    NameTooLong,           // subject: the entry
    TooManyEntries,
    CannotOpen,    // subject: the entry
    FileShrank,    // subject: the entry
    FileGrew,      // subject: the entry
    CannotWrite,   // subject: the file being written
    CannotRename,  // subject: the package's path
    // The extractor image the package is made of.
    NotPeImage,
    StubHasResources,
    StubIsSigned,
    NoResourceDirectory,
    StubHasSymbols,
    PayloadTooLarge,
    BytesAfterLastSection,
    NoRoomForSection,
    ImageTooLarge,
    // The control-file section.
    BadSection,
    BadRevision,
    BadUrl,
    UrlWithoutFileName,
    PackageNamedLikeFolder,
};

struct PackFault {
    PackFault() = default;
    PackFault(PackProblem problem, std::string subject = std::string(),
              std::string other = std::string(), std::error_code error = std::error_code())
        : problem(problem), subject(std::move(subject)), other(std::move(other)), error(error)
    {
    }

    PackProblem problem = PackProblem::None;
    std::string subject;
    std::string other;
    std::error_code error;

    // True when something was refused.
    explicit operator bool() const { return problem != PackProblem::None; }
};

// The fault as morvane-pack prints it: one line naming what was refused and why.
std::string Describe(const PackFault& fault);

}  // namespace pack

#include "pack/pack_fault.h"

namespace pack {
namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string WithError(const std::string& text, const std::error_code& error)
{
    return error ? text + ": " + error.message() : text;
}

}  // namespace

std::string Describe(const PackFault& f)
{
    switch (f.problem) {
    case PackProblem::None: return "";
    case PackProblem::NotAFolder: return f.subject + " is not a folder";
    case PackProblem::CannotList: return WithError("cannot list " + f.subject, f.error);
    case PackProblem::NotLiteralName:
        return Quoted(f.subject) + " is not a name Windows takes literally";
    case PackProblem::OneNameOnWindows:
        return Quoted(f.subject) + " and " + Quoted(f.other) + " are one name on Windows";
    case PackProblem::CannotRead: return WithError("cannot read " + f.subject, f.error);
    case PackProblem::SpecialFile:
        return Quoted(f.subject) + " is a link or special file, not a file or folder";
    case PackProblem::NotLiteralFolderName:
        return Quoted(f.subject) + " is not a folder name Windows takes literally";
    case PackProblem::BadIdentity:
        return "the section name must be one line without brackets, and the revision a number "
               "from 1 to 2147483647";
    case PackProblem::CannotReadStub: return "cannot read the extractor " + f.subject;
    case PackProblem::NameTooLong: return "name too long: " + f.subject;
    case PackProblem::TooManyEntries: return "too many entries";
    case PackProblem::CannotOpen: return "cannot open " + f.subject;
    case PackProblem::FileShrank: return f.subject + " got shorter while it was packed";
    case PackProblem::FileGrew: return f.subject + " grew while it was packed";
    case PackProblem::CannotWrite: return "cannot write " + f.subject;
    case PackProblem::CannotRename: return "cannot rename into " + f.subject;
    case PackProblem::NotPeImage: return "not a PE32 or PE32+ image";
    case PackProblem::StubHasResources: return "the stub already has resources";
    case PackProblem::StubIsSigned: return "the stub is signed; sign the package after packing";
    case PackProblem::NoResourceDirectory: return "no resource data directory";
    case PackProblem::StubHasSymbols: return "the stub carries COFF symbols; link it stripped";
    case PackProblem::PayloadTooLarge: return "the folder is larger than 1 GiB";
    case PackProblem::BytesAfterLastSection: return "the stub has bytes after its last section";
    case PackProblem::NoRoomForSection: return "no room for another section header";
    case PackProblem::ImageTooLarge: return "the image would be too large";
    case PackProblem::BadSection: return "the section name must be one line without brackets";
    case PackProblem::BadRevision: return "the revision must be a number from 1 to 2147483647";
    case PackProblem::BadUrl:
        return "the URL must be http(s), at most 259 characters, no blanks or backslashes";
    case PackProblem::UrlWithoutFileName: return "the URL must end in the package's file name";
    case PackProblem::PackageNamedLikeFolder:
        return "the package's file name must differ from the folder's";
    }
    return "refused";
}

}  // namespace pack

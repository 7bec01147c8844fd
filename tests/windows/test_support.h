// Helpers shared by the Windows-tier tests.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

// Folder of the running test program.
std::wstring ExeDir();
// A fixture program or file built into <build>/fixtures.
std::wstring FixturePath(const std::wstring& name);
// A file of the test PKI (root, signers, signed programs), made at build time.
std::wstring PkiPath(const std::wstring& name);
// Wine's ntdll exports its version; Windows' does not.
bool RunningOnWine();

// Puts the test root into the prefix's ROOT store through the fixture program, as an
// administrator would on a real machine; a program whose tests judge signed files registers it
// with ::testing::AddGlobalTestEnvironment. (Wine also accepts chains to roots it does not
// trust, so this alone does not make the untrusted case testable here.)
class TestRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
};

// A fresh, empty folder under the temporary folder, removed with everything in it on destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// Copies `source` into `dir` as `name` (a failure fails the test); the copy's path.
std::wstring CopyAs(const ScratchDir& dir, const std::wstring& source, const std::wstring& name);

// Writes bytes to a file, replacing it; true on success.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Writes text as UTF-16LE with a byte-order mark, the encoding the profile reader takes for
// non-ASCII texts.
bool WriteUtf16(const std::wstring& path, const std::wstring& text);
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
// Removes a folder and everything below it (test clean-up only: read-only files included).
void RemoveTree(const std::wstring& path);

// The Unix name Wine gives a Windows path; empty elsewhere.
std::string UnixName(const std::wstring& path);
// Runs a Unix command line under Wine and forgets it. Wine may signal a Unix child's handle
// before the child has run, so callers look for what it makes instead.
bool StartUnix(const std::string& command);

// The SID of a well-known account or group; empty when the system cannot make it.
std::vector<unsigned char> WellKnown(WELL_KNOWN_SID_TYPE type);
// Asserts that `descriptor` is win::AdminOnlyFolder's: owner Administrators; a protected DACL
// of exactly Administrators and SYSTEM full control, each inherited by folders and files, and
// nothing for the user.
void ExpectAdminOnly(PSECURITY_DESCRIPTOR descriptor, const char* what);
// Asserts that `folder`, made elevated, has that descriptor, as far as the system keeps it:
// read back whole on Windows; under Wine, an ACL that grants Everyone nothing where a folder
// made without a descriptor (`plainFolder`, made here) grants Everyone read.
void ExpectAdminOnlyFolder(const std::wstring& folder, const std::wstring& plainFolder);

}  // namespace testing_support

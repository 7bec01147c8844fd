// The package as Morvane meets it: made by morvane-pack, run hidden with a temporary folder of
// the test's own, checked by the package check. Crafted payloads go into the real extractor
// through the same resource writer the packer uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "payload_builder.h"
#include <aclapi.h>

#include "pack/name_case.h"
#include "pack/pe_resource.h"
#include "pack/packer.h"
#include "pack/sha256.h"
#include "sys/trust.h"
#include "test_support.h"
#include "win/handles.h"
#include "win/security.h"
#include "win/syslib.h"

using testing_support::ExeDir;
using testing_support::Exists;
using testing_support::FixturePath;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::StartUnix;
using testing_support::UnixName;
using testing_support::WriteBytes;
using testpayload::BuildPayload;
using testpayload::File;
using testpayload::Folder;
using testpayload::RawEntry;

namespace {

constexpr DWORD kRunTimeoutMs = 300000;

std::wstring BuildPath(const std::wstring& name) { return ExeDir() + L"\\..\\" + name; }
std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// TEMP and TMP for the programs this test starts (Wine reads them from the registry
// otherwise); the old values come back at scope end.
class TempVariables {
public:
    explicit TempVariables(const std::wstring& temp) : m_temp(Read(L"TEMP")), m_tmp(Read(L"TMP"))
    {
        ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
        ::SetEnvironmentVariableW(L"TMP", temp.c_str());
    }
    ~TempVariables()
    {
        ::SetEnvironmentVariableW(L"TEMP", m_temp.c_str());
        ::SetEnvironmentVariableW(L"TMP", m_tmp.c_str());
    }
    TempVariables(const TempVariables&) = delete;
    TempVariables& operator=(const TempVariables&) = delete;

private:
    static std::wstring Read(const wchar_t* name)
    {
        wchar_t value[MAX_PATH] = {};
        const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
        return std::wstring(value, length < MAX_PATH ? length : 0);
    }
    std::wstring m_temp, m_tmp;
};

// Runs a command line to its end, its stdout into `output` when given; the exit code, or -1.
long RunToEnd(std::wstring commandLine, const std::wstring& output = L"")
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    win::File out;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!output.empty()) {
        out.reset(::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, nullptr));
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &started))
        return -1;
    win::Handle process(started.hProcess), thread(started.hThread);
    if (::WaitForSingleObject(process.get(), kRunTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 99);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<long>(code);
}

// Runs a package the way staging does: its path alone, hidden, with `temp` as the temporary
// folder.
long RunPackage(const std::wstring& package, const std::wstring& temp)
{
    TempVariables variables(temp);
    return RunToEnd(package);
}

// Every folder and file below `root` by relative path: "dir", or the size and SHA-256.
std::map<std::wstring, std::string> Listing(const std::wstring& root,
                                            const std::wstring& prefix = L"")
{
    std::map<std::wstring, std::string> listing;
    WIN32_FIND_DATAW entry;
    win::FindHandle find(::FindFirstFileW((root + L"\\*").c_str(), &entry));
    if (!find) return listing;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring relative = prefix.empty() ? name : prefix + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            listing[relative] = "dir";
            for (auto& child : Listing(root + L"\\" + name, relative)) listing.insert(child);
            continue;
        }
        const std::string bytes = ReadBytes(root + L"\\" + name);
        pack::Sha256 hash;
        hash.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        unsigned char digest[pack::Sha256::kDigestSize];
        hash.Finish(digest);
        std::string text = std::to_string(bytes.size()) + ":";
        for (unsigned char b : digest)
            text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
        listing[relative] = text;
    } while (::FindNextFileW(find.get(), &entry));
    return listing;
}

bool MakeDir(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != 0; }

// A file of `size` bytes that no shorter pattern repeats through, written in pieces.
bool WritePattern(const std::wstring& path, size_t size)
{
    win::File file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    std::string chunk(1 << 20, '\0');
    uint32_t state = 2463534242u;
    for (size_t done = 0; done < size; done += chunk.size()) {
        for (char& c : chunk) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            c = static_cast<char>(state);
        }
        const DWORD piece = static_cast<DWORD>(std::min(chunk.size(), size - done));
        DWORD written = 0;
        if (!::WriteFile(file.get(), chunk.data(), piece, &written, nullptr) || written != piece)
            return false;
    }
    return true;
}

TEST(Package, RoundTripUnpacksEveryKindOfEntryByteForByte)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", temp = dir / L"temp", package = dir / L"KVSetup.exe";
    ASSERT_TRUE(MakeDir(src) && MakeDir(temp));
    ASSERT_TRUE(MakeDir(src + L"\\nested") && MakeDir(src + L"\\nested\\deeper") &&
                MakeDir(src + L"\\nested\\deeper\\deepest") && MakeDir(src + L"\\empty"));
    ASSERT_TRUE(WriteBytes(src + L"\\nested\\deeper\\deepest\\leaf.txt", "leaf"));
    ASSERT_TRUE(WriteBytes(src + L"\\zero.bin", ""));
    ASSERT_TRUE(WritePattern(src + L"\\big.bin", 50u << 20));
    ASSERT_TRUE(MakeDir(src + L"\\Espa\u00f1ol"));
    ASSERT_TRUE(WriteBytes(src + L"\\Espa\u00f1ol\\\u00f1and\u00fa.txt", "\xC3\xB1"));
    ASSERT_TRUE(MakeDir(src + L"\\\u65e5\u672c\u8a9e"));
    ASSERT_TRUE(WriteBytes(src + L"\\\u65e5\u672c\u8a9e\\\u30c6\u30b9\u30c8.ini", "[x]"));
    ASSERT_TRUE(
        WriteBytes(src + L"\\KVWizard.exe", ReadBytes(FixturePath(L"stubwizard\\KVWizard.exe"))));

    const std::wstring pack = Quoted(BuildPath(L"morvane-pack.exe")) + L" --from " + Quoted(src) +
                              L" --folder KVNew --out " + Quoted(package) + L" --stub " +
                              Quoted(BuildPath(L"morvane-sfx.exe")) +
                              L" --section \"KV Universal\" --revision 7 --url "
                              L"http://127.0.0.1/kv/KVSetup.exe";
    ASSERT_EQ(RunToEnd(pack, dir / L"section.txt"), 0);
    std::string section = ReadBytes(dir / L"section.txt");
    section.erase(std::remove(section.begin(), section.end(), '\r'), section.end());
    EXPECT_EQ(section,
              "[KV Universal]\nDownloadUrl=http://127.0.0.1/kv/KVSetup.exe\n"
              "ExePath=KVNew\\KVWizard.exe\nRevision=7\n");

    const auto source = Listing(src);
    ASSERT_EQ(source.size(), 12u);
    ASSERT_EQ(RunPackage(package, temp), 0);
    EXPECT_EQ(Listing(temp + L"\\KVNew"), source);
    EXPECT_EQ(Listing(temp).size(), source.size() + 1) << "nothing but KVNew in the temp folder";

    // A second run finds the folder there and refuses it whole: nothing is written into a
    // folder the extractor did not make (Morvane removes an old one before it runs a package).
    ASSERT_TRUE(WriteBytes(temp + L"\\KVNew\\zero.bin", "stale"));
    const auto stale = Listing(temp);
    EXPECT_EQ(RunPackage(package, temp), 7);
    EXPECT_EQ(Listing(temp), stale);

    // The manifest keeps Windows from treating "...Setup.exe" as an installer to elevate.
    HMODULE image = ::LoadLibraryExW(package.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    HRSRC manifest = ::FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    const std::string text(
        static_cast<const char*>(::LockResource(::LoadResource(image, manifest))),
        ::SizeofResource(image, manifest));
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    ::FreeLibrary(image);
}

std::string Stub()
{
    static const std::string stub = ReadBytes(BuildPath(L"morvane-sfx.exe"));
    return stub;
}

// The stub with `payload` as its resource, written to `path`.
bool WritePackage(const std::wstring& path, const std::string& payload)
{
    pack::ResourcePlan plan;
    const std::string stub = Stub();
    if (pack::PlanResourceSection(testpayload::Bytes(stub), stub.size(), pack::PackageManifest(),
                                  "", payload.size(), &plan) != pack::PackProblem::None)
        return false;
    return WriteBytes(path,
                      plan.head + plan.directory + payload + std::string(plan.tailPadding, '\0'));
}

TEST(Package, CraftedPayloadsFailAndLeaveNothingBehind)
{
    const std::string big(300000, 'b');
    std::string badDigest = BuildPayload("KVNew", {File("a.txt", "x")});
    badDigest[pack::kHashOffset] ^= 1;
    std::string changedContent = BuildPayload("KVNew", {File("a.txt", "content")});
    changedContent.back() ^= 1;
    const std::string whole = BuildPayload("KVNew", {Folder("a"), File("a/b.txt", big)});
    const struct {
        const char* what;
        std::string payload;
        long code;
        const wchar_t* planted;  // a file made under temp\KVNew before the run, or null
    } cases[] = {
        {"traversal", BuildPayload("KVNew", {File("../outside.txt", "x")}), 2, nullptr},
        {"traversal two levels", BuildPayload("KVNew", {File("../../outside.txt", "x")}), 2,
         nullptr},
        {"root", BuildPayload("KVNew", {File("/mvpk-absolute.txt", "x")}), 2, nullptr},
        {"drive", BuildPayload("KVNew", {File("C:/mvpk-absolute.txt", "x")}), 2, nullptr},
        {"dot-dot in a nested name",
         BuildPayload("KVNew",
                      {Folder("a"), File("a/b.txt", "x"), File("a/../../outside.txt", "x")}),
         2, nullptr},
        {"folder that climbs", BuildPayload("..", {File("outside.txt", "x")}), 2, nullptr},
        {"stream", BuildPayload("KVNew", {File("a.txt:hidden", "x")}), 2, nullptr},
        {"device", BuildPayload("KVNew", {Folder("a"), File("a/con", "x")}), 2, nullptr},
        {"size past the end",
         BuildPayload("KVNew", {File("a.txt", "x"), {pack::EntryKind::File, "b.txt", big, 300001}}),
         2, nullptr},
        {"wrong digest", badDigest, 3, nullptr},
        {"content changed after hashing", changedContent, 3, nullptr},
        {"truncated resource", whole.substr(0, whole.size() - 1000), 2, nullptr},
        // Names that differ only in case would meet on disk: the reader refuses them.
        {"case twins", BuildPayload("KVNew", {File("A.txt", big), Folder("a.txt")}), 2, nullptr},
        {"short alias",
         BuildPayload("KVNew", {File("KVWizard.exe", big), File("KVWIZA~1.EXE", "x")}), 2, nullptr},
        // The folder is there already, with something planted in it: refused, left as it was.
        {"planted folder",
         BuildPayload("KVNew", {File("first.txt", big), Folder("sub"), File("sub/b.txt", "x")}), 7,
         L"sub"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::wstring temp = dir / L"temp", package = dir / L"KVSetup.exe";
        ASSERT_TRUE(MakeDir(temp));
        std::map<std::wstring, std::string> before;
        if (c.planted) {
            ASSERT_TRUE(MakeDir(temp + L"\\KVNew"));
            ASSERT_TRUE(WriteBytes(temp + L"\\KVNew\\" + c.planted, "planted"));
            before = Listing(temp);
        }
        ASSERT_TRUE(WritePackage(package, c.payload)) << c.what;
        const auto packageListing = Listing(dir.path());
        EXPECT_EQ(RunPackage(package, temp), c.code) << c.what;
        EXPECT_EQ(Listing(temp), before) << c.what;
        EXPECT_EQ(Listing(dir.path()), packageListing) << c.what;
        EXPECT_FALSE(Exists(L"C:\\mvpk-absolute.txt")) << c.what;
        EXPECT_FALSE(Exists(L"Z:\\mvpk-absolute.txt")) << c.what;
    }
}

TEST(Package, ExtractorWithoutPayloadEndsWithItsCode)
{
    ScratchDir dir;
    ASSERT_TRUE(MakeDir(dir / L"temp"));
    EXPECT_EQ(RunPackage(Quoted(BuildPath(L"morvane-sfx.exe")), dir / L"temp"), 1);
    EXPECT_TRUE(Listing(dir / L"temp").empty());
}

TEST(Package, UnsetTemporaryFolderWritesNothing)
{
    ScratchDir dir;
    const std::wstring package = dir / L"KVSetup.exe";
    ASSERT_TRUE(WritePackage(package, BuildPayload("KVNew", {File("a.txt", "x")})));
    EXPECT_EQ(RunPackage(package, dir / L"missing"), 4);
    EXPECT_FALSE(Exists(dir / L"missing"));
}

// Made at test time by tests/e2e/packages.py: the stub wizard's folder packed by morvane-pack
// and signed by osslsigncode with the test signer that carries the maker's mark.
TEST(Package, SignedPackagePassesThePackageCheckAndStillUnpacks)
{
    const std::wstring package = FixturePath(L"pack\\signed-dekavroline.exe");
    ASSERT_TRUE(Exists(package));
    EXPECT_EQ(sys::VerifyPackage(package), 1);
    ScratchDir dir;
    ASSERT_TRUE(MakeDir(dir / L"temp"));
    ASSERT_EQ(RunPackage(package, dir / L"temp"), 0);
    EXPECT_EQ(Listing(dir / L"temp\\KVSigned"), Listing(FixturePath(L"stubwizard")));
}

// Starts a package as RunPackage does and leaves it running.
win::Handle StartPackage(const std::wstring& package, const std::wstring& temp)
{
    TempVariables variables(temp);
    std::wstring commandLine = package;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started))
        return win::Handle();
    ::CloseHandle(started.hThread);
    return win::Handle(started.hProcess);
}

bool Running(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

long ExitCodeOf(HANDLE process)
{
    DWORD code = 0;
    if (::WaitForSingleObject(process, kRunTimeoutMs) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process, &code))
        return -1;
    return static_cast<long>(code);
}

// The names in one folder. Listed through a handle that shares delete access: the find
// functions do not, and the extractor holds its folders with delete access.
std::set<std::wstring> Names(const std::wstring& folder)
{
    std::set<std::wstring> names;
    win::File handle(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::vector<LONGLONG> buffer(8192);
    while (handle && ::GetFileInformationByHandleEx(handle.get(), FileIdBothDirectoryInfo,
                                                    buffer.data(), 8192 * sizeof(LONGLONG))) {
        for (auto* at = reinterpret_cast<const unsigned char*>(buffer.data());;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") names.insert(name);
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
    return names;
}

// A Unix symbolic link made by /bin/ln: Wine's CreateSymbolicLinkW makes nothing, and Wine
// follows such a link as Windows would follow a junction.
bool MakeUnixLink(const std::wstring& link, const std::wstring& target)
{
    const std::string from = UnixName(target), to = UnixName(link);
    // Wine may report a Unix child's end before it has run: look for the link instead.
    if (from.empty() || to.empty() || !StartUnix("/bin/ln -sT \"" + from + "\" \"" + to + "\""))
        return false;
    for (int waited = 0; waited < 10000 && !Exists(link); ++waited) ::Sleep(1);
    return Exists(link);
}

// Bad content is found only at the end; until then every file sits under a temporary name,
// and the roll-back takes the files and the folder away.
TEST(Package, FilesTakeTheirNamesOnlyOnceTheDigestMatched)
{
    ScratchDir dir;
    const std::wstring temp = dir / L"temp", package = dir / L"KVSetup.exe";
    ASSERT_TRUE(MakeDir(temp));
    std::string payload = BuildPayload(
        "KVNew", {File("big.bin", std::string(64u << 20, 'b')), File("last.txt", "content")});
    payload.back() ^= 1;
    ASSERT_TRUE(WritePackage(package, payload));

    win::Handle process = StartPackage(package, temp);
    ASSERT_TRUE(process);
    std::set<std::wstring> seen;
    while (Running(process.get())) {
        for (const std::wstring& name : Names(temp + L"\\KVNew")) seen.insert(name);
    }
    EXPECT_EQ(ExitCodeOf(process.get()), 3);
    EXPECT_TRUE(Listing(temp).empty());
    ASSERT_EQ(seen.count(L"mvpk~0.tmp"), 1u) << "the folder was watched while the file was written";
    EXPECT_EQ(seen.count(L"big.bin") + seen.count(L"last.txt"), 0u);
}

TEST(Package, PlantedOrSwappedFoldersAreNeverWrittenInto)
{
    const std::string big(96u << 20, 'b');
    const std::string payload =
        BuildPayload("KVNew", {File("big.bin", big), Folder("sub"), File("sub/b.txt", "x")});
    ScratchDir dir;
    const std::wstring package = dir / L"KVSetup.exe";
    ASSERT_TRUE(WritePackage(package, payload));

    // A link to a folder of the user's choice, or a file, where the folder would be made.
    const std::wstring linked = dir / L"linked", decoy = dir / L"decoy";
    ASSERT_TRUE(MakeDir(linked) && MakeDir(decoy));
    ASSERT_TRUE(MakeUnixLink(linked + L"\\KVNew", decoy));
    EXPECT_EQ(RunPackage(package, linked), 7);
    EXPECT_TRUE(Listing(decoy).empty());
    const std::wstring plantedFile = dir / L"file";
    ASSERT_TRUE(MakeDir(plantedFile) && WriteBytes(plantedFile + L"\\KVNew", "planted"));
    EXPECT_EQ(RunPackage(package, plantedFile), 7);
    EXPECT_EQ(ReadBytes(plantedFile + L"\\KVNew"), "planted");

    // Another program of the user tries to rename the folder away while it is filled, to put
    // a link to a folder of its choice in its place. The folder is held without delete
    // sharing, so the rename is refused while the run goes on; should it pass anyway, the
    // link goes in and the rest of the run must still land in the folder the extractor made.
    const std::wstring temp = dir / L"temp";
    ASSERT_TRUE(MakeDir(temp));
    ASSERT_TRUE(MakeUnixLink(temp + L"\\spare", decoy));  // ready beforehand: renamed in at once
    win::Handle process = StartPackage(package, temp);
    ASSERT_TRUE(process);
    int refused = 0;
    bool moved = false;
    while (Running(process.get()) && !moved) {
        if (!Exists(temp + L"\\KVNew")) continue;
        moved = ::MoveFileExW((temp + L"\\KVNew").c_str(), (temp + L"\\aside").c_str(), 0) != 0;
        refused += moved ? 0 : 1;
    }
    const bool movedWhileRunning = moved && Running(process.get());
    if (movedWhileRunning) {
        EXPECT_TRUE(::MoveFileExW((temp + L"\\spare").c_str(), (temp + L"\\KVNew").c_str(), 0));
    }
    EXPECT_EQ(ExitCodeOf(process.get()), 0);
    // Refused while the folder was being filled. A rename that gets in after the extractor let
    // go of its folders, in the moment before its process has ended, is no fault: the
    // checks below show that nothing went through the link and the tree is whole where the
    // extractor made it.
    EXPECT_GT(refused, 0) << "the rename was tried while the run went on";
    EXPECT_TRUE(Listing(decoy).empty());
    const std::wstring made = temp + (moved ? L"\\aside" : L"\\KVNew");
    EXPECT_EQ(ReadBytes(made + L"\\sub\\b.txt"), "x");
    EXPECT_EQ(ReadBytes(made + L"\\big.bin").size(), big.size());
}

TEST(Package, ElevatedExtractionGivesTheFolderAProtectedDescriptor)
{
    // Wine runs every program as an administrator, so the extraction below is an elevated one.
    ASSERT_TRUE(win::IsElevated());
    win::AdminOnlyFolder built;
    ASSERT_TRUE(built.Build());
    testing_support::ExpectAdminOnly(built.get(), "as built");

    ScratchDir dir;
    const std::wstring temp = dir / L"temp", package = dir / L"KVSetup.exe";
    ASSERT_TRUE(MakeDir(temp));
    ASSERT_TRUE(
        WritePackage(package, BuildPayload("KVNew", {Folder("res"), File("res/a.ini", "x")})));
    ASSERT_EQ(RunPackage(package, temp), 0);
    testing_support::ExpectAdminOnlyFolder(temp + L"\\KVNew", temp + L"\\plain");
}

}  // namespace

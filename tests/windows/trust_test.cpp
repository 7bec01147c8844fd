#include "sys/trust.h"

#include <wintrust.h>

#include <gtest/gtest.h>

#include <vector>

#include "sys/runner.h"
#include "test_support.h"
#include "win/syslib.h"

using testing_support::Exists;
using testing_support::FixturePath;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::StartUnix;
using testing_support::UnixName;

namespace {

std::wstring Pki(const std::wstring& name) { return FixturePath(L"pki\\" + name); }

// Puts the test root into the prefix's ROOT store through the fixture program, as an
// administrator would on a real machine. (Wine also accepts chains to roots it does not
// trust, so this alone does not make the untrusted case testable here.)
class TestRoot : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::wstring command =
            L"\"" + FixturePath(L"install_root.exe") + L"\" \"" + Pki(L"root.der") + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &started));
        ::WaitForSingleObject(started.hProcess, 60000);
        DWORD code = 1;
        ::GetExitCodeProcess(started.hProcess, &code);
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
        ASSERT_EQ(code, 0u) << "root not installed";
    }
};
const auto* const g_root = ::testing::AddGlobalTestEnvironment(new TestRoot);

// Wine's ntdll exports its version; Windows' does not.
bool RunningOnWine() { return win::Ntdll().wine_get_version != nullptr; }

std::wstring CopyAs(const ScratchDir& dir, const std::wstring& source, const std::wstring& name)
{
    const std::wstring target = dir / name;
    EXPECT_TRUE(::CopyFileW(source.c_str(), target.c_str(), FALSE)) << name;
    return target;
}

TEST(VerifyPackage, AcceptsOnlyTrustedFilesWhoseSignerCarriesTheMark)
{
    ScratchDir dir;
    ASSERT_TRUE(::CreateDirectoryW((dir / L"pkg.new").c_str(), nullptr));
    const std::wstring good = Pki(L"signed-dekavroline.exe");
    struct {
        std::wstring path;
        int expected;
    } cases[] = {
        {L"", 0},
        {good, 1},
        {Pki(L"signed-dekavroline.dll"), 1},
        {CopyAs(dir, good, L"UPDATE.EXE"), 1},
        {CopyAs(dir, good, L"Setup.eXe"), 1},
        {CopyAs(dir, Pki(L"signed-dekavroline.dll"), L"LIB.DLL"), 1},
        {Pki(L"signed-accented.exe"), 1},  // "ÉkavroÜ Outils"
        {CopyAs(dir, good, L"update.exe.zip"), 0},
        {CopyAs(dir, good, L"pkg.new\\setup"), 0},  // the only dot is in the folder name
        {CopyAs(dir, good, L"update.txt"), 0},
        {Pki(L"unsigned.exe"), 0},
        {Pki(L"tampered.exe"), 0},      // one byte flipped in the signed range
        {Pki(L"signed-other.exe"), 0},  // trusted, but another signer
        {Pki(L"appended.exe"), 0},      // bytes after the certificate table
        {Pki(L"in-table.exe"), 0},      // bytes hidden inside the certificate table
        // Judged by content: a name whose type disagrees with what the file is gets nothing,
        // however good the signature. WinVerifyTrust itself goes by content and passes a
        // signed PE named .msi, and a PE named .msi with bytes hidden in its certificate table.
        {CopyAs(dir, Pki(L"unsigned.exe"), L"unsigned.msi"), 0},
        {CopyAs(dir, good, L"update.msi"), 0},
        {CopyAs(dir, good, L"update.vbs"), 0},
        {CopyAs(dir, Pki(L"in-table.exe"), L"in-table.msi"), 0},
        {CopyAs(dir, Pki(L"in-table.exe"), L"in-table.vbs"), 0},
        {CopyAs(dir, Pki(L"signed-dekavroline.dll"), L"lib.msi"), 0},
        // Installer packages: real databases written by msi.dll, signed by the test signers.
        {Pki(L"signed-dekavroline.msi"), 1},
        {CopyAs(dir, Pki(L"signed-dekavroline.msi"), L"SETUP.MSI"), 1},
        {CopyAs(dir, Pki(L"signed-dekavroline.msi"), L"database.exe"), 0},
        {CopyAs(dir, Pki(L"signed-dekavroline.msi"), L"database.vbs"), 0},
        {Pki(L"signed-accented.msi"), 1},
        {Pki(L"signed-other.msi"), 0},
        {Pki(L"unsigned.msi"), 0},
        {Pki(L"bad-signature.msi"), 0},  // a byte of the signer's signature flipped
        // osslsigncode cannot sign VBScript, so only the unsigned script is judged.
        {Pki(L"unsigned.vbs"), 0},
        {CopyAs(dir, Pki(L"unsigned.vbs"), L"script.exe"), 0},
        {CopyAs(dir, Pki(L"unsigned.vbs"), L"script.msi"), 0},
        {dir / L"missing.exe", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(sys::VerifyPackage(c.path), c.expected) << c.path;
}

TEST(GetSignerName, ReadsTheSubjectDisplayNameOfTheFirstSigner)
{
    ScratchDir dir;
    struct {
        std::wstring path;
        const wchar_t* name;
    } cases[] = {
        {Pki(L"signed-dekavroline.exe"), L"Dekavroline Software"},
        {Pki(L"signed-dekavroline.dll"), L"Dekavroline Software"},
        {Pki(L"signed-accented.exe"), L"\u00C9kavro\u00DC Outils"},
        {Pki(L"signed-other.exe"), L"Northwind Other Ltd"},
        {Pki(L"tampered.exe"), L"Dekavroline Software"},  // the name alone says nothing of trust
        {Pki(L"unsigned.exe"), L""},
        {Pki(L"appended.exe"), L""},  // a table we refuse gives no name either
        {Pki(L"signed-dekavroline.msi"), L"Dekavroline Software"},
        {Pki(L"signed-accented.msi"), L"\u00C9kavro\u00DC Outils"},
        {Pki(L"signed-other.msi"), L"Northwind Other Ltd"},
        {Pki(L"unsigned.msi"), L""},
        {CopyAs(dir, Pki(L"signed-dekavroline.exe"), L"named.bin"), L""},
        {CopyAs(dir, Pki(L"signed-dekavroline.exe"), L"named.msi"), L""},
        {CopyAs(dir, Pki(L"signed-dekavroline.msi"), L"named.exe"), L""},
        {dir / L"missing.exe", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(sys::GetSignerName(c.path), c.name) << c.path;
}

// Forwards to the real WinVerifyTrust and records what each call was given.
struct TrustCall {
    HWND window;
    DWORD stateAction;
    HANDLE file;
    LONG result;
};
std::vector<TrustCall> g_calls;
LONG WINAPI RecordingWinVerifyTrust(HWND window, GUID* action, LPVOID data)
{
    const auto real = win::WinTrust().WinVerifyTrust;
    auto* trust = static_cast<WINTRUST_DATA*>(data);
    const LONG result = real(window, action, data);
    g_calls.push_back({window, trust->dwStateAction, trust->pFile->hFile, result});
    return result;
}

TEST(VerifyFileTrust, ClosesTheProviderStateAfterEveryVerify)
{
    struct {
        const wchar_t* name;
        bool expected;
    } cases[] = {{L"signed-dekavroline.exe", true}, {L"tampered.exe", false},
                 {L"signed-dekavroline.msi", true}, {L"unsigned.msi", false},
                 {L"bad-signature.msi", false},     {L"unsigned.vbs", false}};
    for (const auto& c : cases) {
        g_calls.clear();
        win::File locked = sys::OpenLocked(Pki(c.name));
        ASSERT_TRUE(locked) << c.name;
        EXPECT_EQ(sys::VerifyFileTrustWith(RecordingWinVerifyTrust, Pki(c.name), locked.get(),
                                           sys::ClassifyPackage(Pki(c.name), locked.get())),
                  c.expected)
            << c.name;
        ASSERT_EQ(g_calls.size(), 2u) << c.name;
        EXPECT_EQ(g_calls[0].window, nullptr);
        EXPECT_EQ(g_calls[0].stateAction, DWORD{WTD_STATEACTION_VERIFY});
        EXPECT_EQ(g_calls[0].result == 0, c.expected) << c.name;
        EXPECT_EQ(g_calls[1].window, static_cast<HWND>(INVALID_HANDLE_VALUE));
        EXPECT_EQ(g_calls[1].stateAction, DWORD{WTD_STATEACTION_CLOSE});
        // The provider judged our locked handle, not whatever the path names now.
        EXPECT_EQ(g_calls[0].file, locked.get());
        EXPECT_EQ(g_calls[1].file, locked.get());
    }
}

// A package whose content changed after signing. make-msi.sh has already shown, with
// osslsigncode, that its streams no longer match the signed digest.
TEST(VerifyPackage, RefusesAnInstallerPackageChangedAfterSigning)
{
    g_calls.clear();
    const std::wstring path = Pki(L"tampered.msi");
    win::File locked = sys::OpenLocked(path);
    ASSERT_TRUE(locked);
    const bool verdict = sys::VerifyFileTrustWith(RecordingWinVerifyTrust, path, locked.get(),
                                                  sys::ClassifyPackage(path, locked.get()));
    ASSERT_EQ(g_calls.size(), 2u);
    if (RunningOnWine()) {
        // Wine limit: its provider checks the signature over the signed digest but never
        // hashes an installer database's streams against that digest, so WinVerifyTrust
        // returns 0 for the changed package. Windows' provider answers TRUST_E_BAD_DIGEST.
        EXPECT_EQ(g_calls[0].result, 0) << "Wine now refuses it: keep only the check below";
        EXPECT_TRUE(verdict);
    } else {
        EXPECT_NE(g_calls[0].result, 0);
        EXPECT_FALSE(verdict);
    }
}

// Refused on what the file is, before the provider is asked: a PE image without a certificate
// table or with room for unsigned bytes in it, and a name whose type disagrees with the
// content, including signed PE images that the provider would accept under any name.
TEST(VerifyFileTrust, RefusesWithoutCallingTheProvider)
{
    ScratchDir dir;
    const std::wstring good = Pki(L"signed-dekavroline.exe");
    const std::wstring paths[] = {
        CopyAs(dir, good, L"a.exe.zip"),
        Pki(L"unsigned.exe"),
        Pki(L"appended.exe"),
        Pki(L"in-table.exe"),
        CopyAs(dir, good, L"a.msi"),
        CopyAs(dir, good, L"a.vbs"),
        CopyAs(dir, Pki(L"in-table.exe"), L"b.msi"),
        CopyAs(dir, Pki(L"signed-dekavroline.msi"), L"c.exe"),
        CopyAs(dir, Pki(L"unsigned.vbs"), L"d.exe"),
    };
    for (const std::wstring& path : paths) {
        g_calls.clear();
        win::File locked = sys::OpenLocked(path);
        ASSERT_TRUE(locked) << path;
        EXPECT_FALSE(sys::VerifyFileTrustWith(RecordingWinVerifyTrust, path, locked.get(),
                                              sys::ClassifyPackage(path, locked.get())))
            << path;
        EXPECT_TRUE(g_calls.empty()) << path;
    }
}

// What each package is, read from the locked file: the kind the steps above are handed.
TEST(ClassifyPackage, ReadsTheKindFromTheLockedFile)
{
    using sys::PackageKind;
    ScratchDir dir;
    const struct {
        std::wstring path;
        PackageKind kind;
    } cases[] = {
        {Pki(L"signed-dekavroline.exe"), PackageKind::PortableExecutable},
        {Pki(L"signed-dekavroline.dll"), PackageKind::PortableExecutable},
        {Pki(L"unsigned.exe"), PackageKind::PortableExecutable},
        {Pki(L"signed-dekavroline.msi"), PackageKind::InstallerDatabase},
        {Pki(L"unsigned.vbs"), PackageKind::Script},
        {CopyAs(dir, Pki(L"signed-dekavroline.exe"), L"pe.msi"), PackageKind::None},
        {CopyAs(dir, Pki(L"signed-dekavroline.msi"), L"msi.vbs"), PackageKind::None},
        {CopyAs(dir, Pki(L"unsigned.vbs"), L"script.dll"), PackageKind::None},
        {CopyAs(dir, Pki(L"signed-dekavroline.exe"), L"pe.bin"), PackageKind::None},
    };
    for (const auto& c : cases) {
        win::File locked = sys::OpenLocked(c.path);
        ASSERT_TRUE(locked) << c.path;
        EXPECT_EQ(static_cast<int>(sys::ClassifyPackage(c.path, locked.get())),
                  static_cast<int>(c.kind))
            << c.path;
    }
    const std::wstring nothing = dir / L"empty.vbs";
    win::File created(
        ::CreateFileW(nothing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(created);
    created.reset();
    win::File locked = sys::OpenLocked(nothing);
    EXPECT_EQ(static_cast<int>(sys::ClassifyPackage(nothing, locked.get())),
              static_cast<int>(PackageKind::None))
        << "empty file";
}

TEST(VerifyPackage, KeepsTheJudgedFileLockedForTheCaller)
{
    ScratchDir dir;
    const std::wstring path = CopyAs(dir, Pki(L"signed-dekavroline.exe"), L"package.exe");
    win::File lock;
    ASSERT_EQ(sys::VerifyPackage(path, &lock), 1);
    ASSERT_TRUE(lock);

    HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    EXPECT_FALSE(::DeleteFileW(path.c_str()));
    EXPECT_FALSE(::MoveFileW(path.c_str(), (dir / L"moved.exe").c_str()));

    // The locked package can still be started, as the staging step does.
    EXPECT_EQ(sys::RunProcessAndWait(L"\"" + path + L"\"", true), 1);

    lock.reset();
    EXPECT_TRUE(::DeleteFileW(path.c_str()));
}

TEST(VerifyPackage, RefusesAFileSomeoneElseHasOpenForWriting)
{
    ScratchDir dir;
    const std::wstring path = CopyAs(dir, Pki(L"signed-dekavroline.exe"), L"package.exe");
    win::File writer(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    win::File lock;
    EXPECT_EQ(sys::VerifyPackage(path, &lock), 0);
    EXPECT_FALSE(lock);
    writer.reset();
    EXPECT_EQ(sys::VerifyPackage(path, &lock), 1);
}

// The pin file make-pki.sh wrote for a signer: its key's SHA-256 in hex.
std::string PinOf(const wchar_t* signer)
{
    std::string pin = ReadBytes(Pki(std::wstring(signer) + L".pin"));
    while (!pin.empty() && (pin.back() == '\n' || pin.back() == '\r')) pin.pop_back();
    EXPECT_EQ(pin.size(), 64u) << "no pin for the signer";
    return pin;
}

// Any trusted authority can issue a certificate whose name holds the mark; a pinned key cannot
// be had that way. Both test signers below carry the mark in their names.
TEST(VerifyPackage, PinnedKeyShutsOutOtherSignersWhoseNameHasTheMark)
{
    const std::string makerPin = PinOf(L"dekavroline"), impostorPin = PinOf(L"impostor");
    const sys::KeyPins maker = {makerPin};
    const sys::KeyPins impostor = {impostorPin};
    struct {
        const wchar_t* name;
        sys::KeyPins pins;
        bool expected;
    } cases[] = {
        {L"signed-dekavroline.exe", maker, true},
        {L"signed-dekavroline.msi", maker, true},
        {L"signed-impostor.exe", maker, false},
        {L"signed-accented.exe", maker, false},
        {L"signed-impostor.exe", {}, true},  // without pins the name alone decides
        {L"signed-impostor.exe", impostor, true},
        {L"signed-dekavroline.exe", impostor, false},
        {L"signed-impostor.exe", {impostor[0], maker[0]}, true},  // a key rotation's two pins
        {L"signed-other.exe", maker, false},
        {L"unsigned.exe", maker, false},
    };
    for (const auto& c : cases) {
        win::File lock;
        EXPECT_EQ(sys::CheckPackage(Pki(c.name), c.pins, &lock) == sys::PackageVerdict::Accepted,
                  c.expected)
            << c.name;
        EXPECT_EQ(lock.valid(), c.expected) << c.name;
    }
}

// The new wizard and the copy of the local one are judged as the package is, wherever they lie.
TEST(VerifyPackage, JudgesAWizardInAFolderLikeThePackage)
{
    ScratchDir dir;
    ASSERT_TRUE(::CreateDirectoryW((dir / L"KVSetup").c_str(), nullptr));
    const struct {
        const wchar_t* source;
        int expected;
    } cases[] = {{L"signed-dekavroline.exe", 1}, {L"unsigned.exe", 0},
                 {L"signed-other.exe", 0},       {L"tampered.exe", 0},
                 {L"in-table.exe", 0},           {L"signed-dekavroline.msi", 0}};
    for (const auto& c : cases) {
        const std::wstring wizard = CopyAs(dir, Pki(c.source), L"KVSetup\\KVWizard.exe");
        win::File lock;
        EXPECT_EQ(sys::VerifyPackage(wizard, &lock), c.expected) << c.source;
        lock.reset();
        ASSERT_TRUE(::DeleteFileW(wizard.c_str()));
    }
}

bool SameFile(const std::wstring& a, const std::wstring& b)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    win::File fa(
        ::CreateFileW(a.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, 0, nullptr));
    win::File fb(
        ::CreateFileW(b.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return fa && fb && ::GetFileInformationByHandle(fa.get(), &ia) &&
           ::GetFileInformationByHandle(fb.get(), &ib) && ia.nFileIndexLow == ib.nFileIndexLow &&
           ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber;
}

// Points the link `link` at `target` (made or re-pointed with a Unix symlink: Wine's
// CreateSymbolicLinkW only reports success) and waits until `probe`, a path through the link,
// is `expected`. Wine may signal a Unix child's end before it ran, so the result is watched.
bool PointLink(const std::wstring& link, const std::wstring& target, const std::wstring& probe,
               const std::wstring& expected)
{
    const std::string unixLink = UnixName(link), unixTarget = UnixName(target);
    if (unixLink.empty() || unixTarget.empty()) return false;
    if (!StartUnix("/bin/ln -sfnT \"" + unixTarget + "\" \"" + unixLink + "\"")) return false;
    for (int waited = 0; waited < 30000; waited += 10) {
        if (SameFile(probe, expected)) return true;
        ::Sleep(10);
    }
    return false;
}

// What each attack does between the check and the start. The judged file is a signed
// program; the file put in its place is runner_helper, unsigned, which records its start.
enum class Swap { None, RepointFileLink, RepointFolderLink, RenameFolder, SecondName };

struct JudgedRun {
    bool judged = false;
    bool swapped = false;  // the attack went through
    bool started = false;
    bool helperRan = false;
};

const sys::JudgedStart kHidden{true, L"", L""};

JudgedRun JudgeSwapAndStart(const ScratchDir& dir, Swap swap)
{
    JudgedRun run;
    const std::wstring good = dir / L"good", evil = dir / L"evil", pkg = dir / L"pkg";
    ::CreateDirectoryW(good.c_str(), nullptr);
    ::CreateDirectoryW(evil.c_str(), nullptr);
    CopyAs(dir, Pki(L"signed-dekavroline.exe"), L"good\\KVWizard.exe");
    CopyAs(dir, FixturePath(L"runner_helper.exe"), L"evil\\KVWizard.exe");
    // The judged path: a file link, a wizard in a linked folder, or a plain file in a folder.
    std::wstring path = pkg + L"\\KVWizard.exe";
    if (swap == Swap::RepointFileLink) {
        path = dir / L"KVSetup.exe";
        if (!PointLink(path, good + L"\\KVWizard.exe", path, good + L"\\KVWizard.exe")) return run;
    } else if (swap == Swap::RepointFolderLink) {
        if (!PointLink(pkg, good, path, good + L"\\KVWizard.exe")) return run;
    } else {
        ::CreateDirectoryW(pkg.c_str(), nullptr);
        CopyAs(dir, Pki(L"signed-dekavroline.exe"), L"pkg\\KVWizard.exe");
    }

    win::File lock;
    run.judged = sys::VerifyPackage(path, &lock) == 1;
    if (!run.judged) return run;

    switch (swap) {
    case Swap::None: break;
    case Swap::RepointFileLink:
        run.swapped = PointLink(path, evil + L"\\KVWizard.exe", path, evil + L"\\KVWizard.exe");
        break;
    case Swap::RepointFolderLink:
        run.swapped = PointLink(pkg, evil, path, evil + L"\\KVWizard.exe");
        break;
    case Swap::RenameFolder:
        // Windows refuses to rename a folder holding an open file; Wine allows it.
        run.swapped = ::MoveFileW(pkg.c_str(), (dir / L"pkg.judged").c_str()) &&
                      ::MoveFileW(evil.c_str(), pkg.c_str());
        break;
    case Swap::SecondName:
        // A hard link may be added to a file held open without write sharing.
        run.swapped = ::CreateHardLinkW((dir / L"second.exe").c_str(), path.c_str(), nullptr);
        break;
    }
    const std::wstring marker = dir / L"marker.txt";
    const sys::StartedProcess started = sys::StartJudgedProcess(
        L"\"" + path + L"\" \"" + marker + L"\" quick", lock.get(), kHidden);
    run.started = static_cast<bool>(started);
    if (started) ::WaitForSingleObject(started.process.get(), 30000);
    ::Sleep(500);  // a process resumed by mistake would have written by now
    run.helperRan = Exists(marker);
    return run;
}

// Each attack re-points or swaps what the judged path names after the check, which a start by
// path would follow. The start runs only the judged image; the unsigned program never runs.
TEST(StartJudgedProcess, RunsOnlyTheFileThatWasJudged)
{
    const struct {
        Swap swap;
        const char* what;
    } cases[] = {
        {Swap::None, "nothing changed: the judged wizard runs"},
        {Swap::RepointFileLink, "the package's name is a link, re-pointed"},
        {Swap::RepointFolderLink, "the wizard's folder is a link, re-pointed"},
        {Swap::RenameFolder, "the wizard's folder renamed away and another put there"},
        {Swap::SecondName, "the judged file was given a second name"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const JudgedRun run = JudgeSwapAndStart(dir, c.swap);
        // Windows refuses a link at the check already; Wine follows it, as an open would.
        if (!run.judged && !RunningOnWine() && c.swap != Swap::None) continue;
        ASSERT_TRUE(run.judged) << c.what;
        // Under Wine every attack goes through; Windows refuses the folder's rename.
        if (RunningOnWine() || c.swap != Swap::RenameFolder) {
            EXPECT_EQ(run.swapped, c.swap != Swap::None) << c.what;
        }
        EXPECT_FALSE(run.helperRan) << c.what;
        EXPECT_EQ(run.started, !run.swapped) << c.what;
    }
}

TEST(StartJudgedProcess, RefusesWithoutAJudgedFile)
{
    ScratchDir dir;
    const std::wstring marker = dir / L"marker.txt";
    const std::wstring command =
        L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" + marker + L"\" quick";
    EXPECT_FALSE(sys::StartJudgedProcess(command, INVALID_HANDLE_VALUE, kHidden));
    EXPECT_FALSE(sys::StartJudgedProcess(command, nullptr, kHidden));
    // A judged file that is not the program started: refused before it runs.
    win::File other = sys::OpenLocked(Pki(L"signed-dekavroline.exe"));
    ASSERT_TRUE(other);
    EXPECT_FALSE(sys::StartJudgedProcess(command, other.get(), kHidden));
    ::Sleep(500);
    EXPECT_FALSE(Exists(marker));
}

}  // namespace

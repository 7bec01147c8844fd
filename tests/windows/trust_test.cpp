#include "sys/trust.h"

#include <wintrust.h>

#include <gtest/gtest.h>

#include <vector>

#include "sys/runner.h"
#include "test_support.h"
#include "win/syslib.h"

using namespace testing_support;

namespace {

const auto* const g_root = ::testing::AddGlobalTestEnvironment(new TestRootEnvironment);

TEST(VerifyPackage, AcceptsOnlyTrustedFilesWhoseSignerCarriesTheMark)
{
    ScratchDir dir;
    ASSERT_TRUE(::CreateDirectoryW((dir / L"pkg.new").c_str(), nullptr));
    const std::wstring good = PkiPath(L"signed-dekavroline.exe");
    struct {
        std::wstring path;
        int expected;
    } cases[] = {
        {L"", 0},
        {good, 1},
        {PkiPath(L"signed-dekavroline.dll"), 1},
        {CopyAs(dir, good, L"UPDATE.EXE"), 1},
        {CopyAs(dir, good, L"Setup.eXe"), 1},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.dll"), L"LIB.DLL"), 1},
        {PkiPath(L"signed-accented.exe"), 1},  // "ÉkavroÜ Outils"
        {CopyAs(dir, good, L"update.exe.zip"), 0},
        {CopyAs(dir, good, L"pkg.new\\setup"), 0},  // the only dot is in the folder name
        {CopyAs(dir, good, L"update.txt"), 0},
        {PkiPath(L"unsigned.exe"), 0},
        {PkiPath(L"tampered.exe"), 0},      // one byte flipped in the signed range
        {PkiPath(L"signed-other.exe"), 0},  // trusted, but another signer
        {PkiPath(L"appended.exe"), 0},      // bytes after the certificate table
        {PkiPath(L"in-table.exe"), 0},      // bytes hidden inside the certificate table
        // Judged by content: a name whose type disagrees with what the file is gets nothing,
        // however good the signature. WinVerifyTrust itself goes by content and passes a
        // signed PE named .msi, and a PE named .msi with bytes hidden in its certificate table.
        {CopyAs(dir, PkiPath(L"unsigned.exe"), L"unsigned.msi"), 0},
        {CopyAs(dir, good, L"update.msi"), 0},
        {CopyAs(dir, good, L"update.vbs"), 0},
        {CopyAs(dir, PkiPath(L"in-table.exe"), L"in-table.msi"), 0},
        {CopyAs(dir, PkiPath(L"in-table.exe"), L"in-table.vbs"), 0},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.dll"), L"lib.msi"), 0},
        // Installer packages: real databases written by msi.dll, signed by the test signers.
        {PkiPath(L"signed-dekavroline.msi"), 1},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.msi"), L"SETUP.MSI"), 1},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.msi"), L"database.exe"), 0},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.msi"), L"database.vbs"), 0},
        {PkiPath(L"signed-accented.msi"), 1},
        {PkiPath(L"signed-other.msi"), 0},
        {PkiPath(L"unsigned.msi"), 0},
        {PkiPath(L"bad-signature.msi"), 0},  // a byte of the signer's signature flipped
        // osslsigncode cannot sign VBScript, so only the unsigned script is judged.
        {PkiPath(L"unsigned.vbs"), 0},
        {CopyAs(dir, PkiPath(L"unsigned.vbs"), L"script.exe"), 0},
        {CopyAs(dir, PkiPath(L"unsigned.vbs"), L"script.msi"), 0},
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
        {PkiPath(L"signed-dekavroline.exe"), L"Dekavroline Software"},
        {PkiPath(L"signed-dekavroline.dll"), L"Dekavroline Software"},
        {PkiPath(L"signed-accented.exe"), L"\u00C9kavro\u00DC Outils"},
        {PkiPath(L"signed-other.exe"), L"Northwind Other Ltd"},
        {PkiPath(L"tampered.exe"),
         L"Dekavroline Software"},  // the name alone says nothing of trust
        {PkiPath(L"unsigned.exe"), L""},
        {PkiPath(L"appended.exe"), L""},  // a table we refuse gives no name either
        {PkiPath(L"signed-dekavroline.msi"), L"Dekavroline Software"},
        {PkiPath(L"signed-accented.msi"), L"\u00C9kavro\u00DC Outils"},
        {PkiPath(L"signed-other.msi"), L"Northwind Other Ltd"},
        {PkiPath(L"unsigned.msi"), L""},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.exe"), L"named.bin"), L""},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.exe"), L"named.msi"), L""},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.msi"), L"named.exe"), L""},
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
        win::File locked = sys::OpenLocked(PkiPath(c.name));
        ASSERT_TRUE(locked) << c.name;
        EXPECT_EQ(sys::VerifyFileTrustWith(RecordingWinVerifyTrust, PkiPath(c.name), locked.get(),
                                           sys::ClassifyPackage(PkiPath(c.name), locked.get())),
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
    const std::wstring path = PkiPath(L"tampered.msi");
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
    const std::wstring good = PkiPath(L"signed-dekavroline.exe");
    const std::wstring paths[] = {
        CopyAs(dir, good, L"a.exe.zip"),
        PkiPath(L"unsigned.exe"),
        PkiPath(L"appended.exe"),
        PkiPath(L"in-table.exe"),
        CopyAs(dir, good, L"a.msi"),
        CopyAs(dir, good, L"a.vbs"),
        CopyAs(dir, PkiPath(L"in-table.exe"), L"b.msi"),
        CopyAs(dir, PkiPath(L"signed-dekavroline.msi"), L"c.exe"),
        CopyAs(dir, PkiPath(L"unsigned.vbs"), L"d.exe"),
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
        {PkiPath(L"signed-dekavroline.exe"), PackageKind::PortableExecutable},
        {PkiPath(L"signed-dekavroline.dll"), PackageKind::PortableExecutable},
        {PkiPath(L"unsigned.exe"), PackageKind::PortableExecutable},
        {PkiPath(L"signed-dekavroline.msi"), PackageKind::InstallerDatabase},
        {PkiPath(L"unsigned.vbs"), PackageKind::Script},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.exe"), L"pe.msi"), PackageKind::None},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.msi"), L"msi.vbs"), PackageKind::None},
        {CopyAs(dir, PkiPath(L"unsigned.vbs"), L"script.dll"), PackageKind::None},
        {CopyAs(dir, PkiPath(L"signed-dekavroline.exe"), L"pe.bin"), PackageKind::None},
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
    const std::wstring path = CopyAs(dir, PkiPath(L"signed-dekavroline.exe"), L"package.exe");
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
    const std::wstring path = CopyAs(dir, PkiPath(L"signed-dekavroline.exe"), L"package.exe");
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
    std::string pin = ReadBytes(PkiPath(std::wstring(signer) + L".pin"));
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
    // An accepted file comes with what the check read of it, for revocation and the trail.
    for (const auto& c : cases) {
        sys::JudgedFile judged;
        EXPECT_EQ(
            sys::CheckPackage(PkiPath(c.name), c.pins, &judged) == sys::PackageVerdict::Accepted,
            c.expected)
            << c.name;
        EXPECT_EQ(judged.file.valid(), c.expected) << c.name;
        EXPECT_EQ(!judged.signature.empty(), c.expected) << c.name;
        EXPECT_EQ(judged.signer, c.expected ? sys::GetSignerName(PkiPath(c.name)) : L"") << c.name;
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
        const std::wstring wizard = CopyAs(dir, PkiPath(c.source), L"KVSetup\\KVWizard.exe");
        win::File lock;
        EXPECT_EQ(sys::VerifyPackage(wizard, &lock), c.expected) << c.source;
        lock.reset();
        ASSERT_TRUE(::DeleteFileW(wizard.c_str()));
    }
}

}  // namespace

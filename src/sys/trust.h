// The package check: is a downloaded file one we may run?
//
// Yes only when the file is of a type that carries an embedded Authenticode signature, its
// content is of the kind its name promises, the trust provider accepts that signature, and
// the signer's display name holds the maker's mark. The file is opened once, denying writers and
// deleters, and every step reads that same open file: nothing can swap it between the check and the
// signer's name, and a caller that keeps the lock can start exactly the file that was judged.
//
// wintrust.dll and crypt32.dll are bound at run time from the system folder: Morvane runs
// elevated from folders others can write to, so they must not be in its import table.
#pragma once
#include <windows.h>
#include <wintrust.h>

#include <string>
#include <vector>

#include "sys/trust_rules.h"
#include "win/handles.h"

namespace sys {

// Opens a file for reading, sharing read access only: while the handle lives nobody can write
// to the file, rename it or delete it. The name itself is opened, not what a link there points
// to; a link or a folder is refused. Invalid when the file cannot be opened that way.
win::File OpenLocked(const std::wstring& path);
// The same for `name` inside the held folder `folder`, opened relative to that handle.
win::File OpenLockedIn(HANDLE folder, const std::wstring& name);

// What the locked file is, read once from its first bytes and held against its name (see
// sys::ClassifyPackage). The steps below take this result rather than judge the name again.
sys::PackageKind ClassifyPackage(const std::wstring& path, HANDLE lockedFile);

// The package check, for any program we are about to run elevated: the package, the new
// wizard in its extracted folder, the copy of the local wizard. 0 for an empty path and on
// every failure. Besides the name rule, when this build has key pins
// (sys::BuiltInKeyPins), the signer's public key must be one of them.
int VerifyPackage(const std::wstring& path);
// The same; on 1 `lock` holds the judged file open as OpenLocked does, so the caller can run
// it with StartJudgedProcess (sys/runner.h) before anyone can change it. On 0 `lock` is left
// invalid.
int VerifyPackage(const std::wstring& path, win::File* lock);

// A file the check accepted, held as OpenLocked holds it, with what the check read from it:
// revocation and the record take these rather than read the file's kind and signature again.
struct JudgedFile {
    win::File file;
    sys::PackageKind kind = sys::PackageKind::None;
    std::vector<unsigned char> signature;  // the PKCS #7 blob (ReadSignatureBlob)
    std::wstring signer;                   // its signer's display name
};

// What the check found, for the user and the trail.
enum class PackageVerdict {
    Accepted,
    BadSignature,  // no file of a signed type, no sound signature, or one the provider refuses
    OtherSigner,   // a good signature by a signer without the maker's mark or pinned key
};
// The check behind VerifyPackage, with its verdict and the key pins passed in (empty `pins`
// pins nothing); on Accepted `judged` holds the judged file, otherwise it is left empty.
PackageVerdict CheckPackage(const std::wstring& path, const sys::KeyPins& pins, JudgedFile* judged);
// The same check over `file`, which the caller opened as OpenLocked opens (reading, sharing
// read only, no link), relative to a folder it holds; `path` is that file's own path, checked
// to name it (win::PathNamesHeld), for the name rules and the trust provider.
PackageVerdict CheckOpenedPackage(const std::wstring& path, win::File file,
                                  const sys::KeyPins& pins, JudgedFile* judged);

// Type filter, our certificate-table check for PE images (no table, or one with room for
// unsigned bytes, is refused here), then WinVerifyTrust over the locked file. 1 when trusted.
int VerifyFileTrust(const std::wstring& path);
int VerifyFileTrust(const std::wstring& path, HANDLE lockedFile, sys::PackageKind kind);

// The first signer certificate's simple display name, read from the signature bytes of the
// locked file; empty when the type is not verifiable or anything fails.
std::wstring GetSignerName(const std::wstring& path);
std::wstring GetSignerName(const std::wstring& path, HANDLE lockedFile, sys::PackageKind kind);

// The signature (a PKCS#7 blob) of the locked file, read as the signer's name is read; empty
// when the file has none that our checks accept.
std::vector<unsigned char> ReadSignatureBlob(const std::wstring& path, HANDLE lockedFile,
                                             sys::PackageKind kind);

// The certificates and the signed message of a signature blob (ReadSignatureBlob); false when
// crypt32 cannot read it.
bool OpenSignature(const std::vector<unsigned char>& signature, win::CertStore* store,
                   win::CryptMessage* message);

// The signer rule and the key pins over the first signer of a signature blob: the one judgement
// of who signed, for the package and the control file alike.
enum class SignerJudgement {
    Maker,       // the name holds the maker's mark and the key is pinned (or nothing is pinned)
    Unreadable,  // no signer certificate could be read from the blob
    NoMark,      // the name lacks the maker's mark
    NotPinned,   // the key is none of the pins
};
// `name` receives the signer's display name (empty when unreadable), for the trail.
SignerJudgement JudgeSigner(const std::vector<unsigned char>& signature, const sys::KeyPins& pins,
                            std::wstring* name);
// The trail's words for a signer JudgeSigner refused ("its signer ... lacks the maker's mark").
std::wstring DescribeRefusedSigner(SignerJudgement judgement, const std::wstring& name);

// The signer's chain as the system builds it from what is at hand: the certificates the
// signature carries and the system's stores, nothing fetched from the network (no issuer, no
// root list update). False when no chain could be built.
bool BuildCachedChain(HCERTSTORE signatureStore, PCCERT_CONTEXT signer, win::CertChain* chain);

// The trust check with the WinVerifyTrust entry passed in, so the calls it makes can be
// watched. VerifyFileTrust passes the real one.
bool VerifyFileTrustWith(decltype(&::WinVerifyTrust) verify, const std::wstring& path,
                         HANDLE lockedFile, sys::PackageKind kind);

}  // namespace sys

#include "sys/trust.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <mssip.h>

#include <vector>

#include "rules/pe_certificate.h"
#include "win/file_info.h"
#include "win/nt_file.h"
#include "win/syslib.h"
#include "win/trail.h"

namespace sys {
namespace {

using Bytes = std::vector<unsigned char>;

// WINTRUST_ACTION_GENERIC_VERIFY_V2, which mingw-w64's softpub.h does not carry.
const GUID kGenericVerifyV2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

// The crypt32 calls the signer's name is read with; null when the system lacks one of them.
const win::Crypt32Calls* Crypt()
{
    const win::Crypt32Calls& api = win::Crypt32();
    return win::IfPresent(api, api.CryptQueryObject, api.CryptMsgGetParam, api.CryptMsgClose,
                          api.CertFindCertificateInStore, api.CertGetNameStringW,
                          api.CertFreeCertificateContext, api.CertCloseStore,
                          api.CryptSIPRetrieveSubjectGuid, api.CryptSIPLoad,
                          api.CryptHashPublicKeyInfo);
}

// Reads exactly `length` bytes at `offset` through the handle.
bool ReadAt(HANDLE file, uint64_t offset, unsigned char* buffer, size_t length)
{
    while (length > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = length > (1u << 20) ? (1u << 20) : static_cast<DWORD>(length);
        DWORD got = 0;
        if (!::ReadFile(file, buffer, chunk, &got, &at) || got == 0) return false;
        buffer += got;
        offset += got;
        length -= got;
    }
    return true;
}

// The file's first rules::kPeHeadBytes (all of it when it is shorter) and its size.
bool ReadHead(HANDLE file, Bytes* head, uint64_t* size)
{
    if (!win::FileSize(file, size)) return false;
    head->resize(static_cast<size_t>(*size < rules::kPeHeadBytes ? *size : rules::kPeHeadBytes));
    return ReadAt(file, 0, head->data(), head->size());
}

// The PKCS#7 blob of a PE image whose certificate table passes our check; empty otherwise,
// also for an unsigned image, which has no table.
Bytes ReadCheckedPeSignature(HANDLE file)
{
    Bytes head;
    uint64_t size = 0;
    if (!ReadHead(file, &head, &size)) return Bytes();
    rules::CertificateSpan table;
    if (!rules::FindCertificateTable(head.data(), head.size(), &table) || table.length == 0)
        return Bytes();
    if (table.length > rules::kMaxCertificateTableBytes ||
        uint64_t{table.offset} + table.length != size)
        return Bytes();
    Bytes bytes(table.length);
    if (!ReadAt(file, table.offset, bytes.data(), bytes.size())) return Bytes();
    rules::CertificateSpan blob;
    if (!rules::CheckCertificateTable(table, size, bytes.data(), bytes.size(), &blob))
        return Bytes();
    return Bytes(bytes.begin() + blob.offset, bytes.begin() + blob.offset + blob.length);
}

// For the other types (msi, vbs) the platform's subject interface package knows where the
// signature lives; it reads it from our handle, never by path.
Bytes ReadSipSignature(const win::Crypt32Calls& api, const std::wstring& path, HANDLE file)
{
    GUID subject{};
    if (!api.CryptSIPRetrieveSubjectGuid(path.c_str(), file, &subject)) return Bytes();
    SIP_DISPATCH_INFO dispatch{};
    dispatch.cbSize = sizeof dispatch;
    if (!api.CryptSIPLoad(&subject, 0, &dispatch) || !dispatch.pfGet) return Bytes();
    SIP_SUBJECTINFO info{};
    info.cbSize = sizeof info;
    info.pgSubjectType = &subject;
    info.hFile = file;
    info.pwsFileName = path.c_str();
    DWORD encoding = 0;
    DWORD size = 0;
    // The size is the file's say: held to the same bound as a PE certificate table, so a
    // hostile database cannot ask for more memory than any real signature needs.
    if (!dispatch.pfGet(&info, &encoding, 0, &size, nullptr) || size == 0 ||
        size > rules::kMaxCertificateTableBytes)
        return Bytes();
    Bytes bytes(size);
    if (!dispatch.pfGet(&info, &encoding, 0, &size, bytes.data())) return Bytes();
    bytes.resize(size);
    return bytes;
}

Bytes ReadSignature(const win::Crypt32Calls& api, const std::wstring& path, HANDLE file,
                    sys::PackageKind kind)
{
    switch (kind) {
    case sys::PackageKind::PortableExecutable: return ReadCheckedPeSignature(file);
    case sys::PackageKind::InstallerDatabase:
    case sys::PackageKind::Script: return ReadSipSignature(api, path, file);
    case sys::PackageKind::None: break;
    }
    return Bytes();
}

// The first signer's info, in a buffer of our own.
Bytes ReadSignerInfo(const win::Crypt32Calls& api, HCRYPTMSG message)
{
    DWORD size = 0;
    if (!api.CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0)
        return Bytes();
    Bytes info(size, 0);
    if (!api.CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, info.data(), &size))
        return Bytes();
    return info;
}

std::wstring DisplayName(const win::Crypt32Calls& api, PCCERT_CONTEXT certificate)
{
    const DWORD length =
        api.CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length <= 1) return std::wstring();
    std::vector<wchar_t> name(length, L'\0');
    const DWORD got = api.CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                             name.data(), length);
    if (got <= 1 || got > length) return std::wstring();
    return std::wstring(name.data(), got - 1);
}

// The first signer: its display name and the SHA-256 digest of its public key
// (SubjectPublicKeyInfo DER, as `openssl pkey -pubin -outform DER | sha256sum` gives it).
struct Signer {
    std::wstring name;
    unsigned char keyHash[sys::kKeyHashBytes] = {};
    bool hasKeyHash = false;
};

bool HashPublicKey(const win::Crypt32Calls& api, PCCERT_CONTEXT certificate, Signer* signer)
{
    DWORD size = sizeof signer->keyHash;
    CERT_PUBLIC_KEY_INFO* key = &certificate->pCertInfo->SubjectPublicKeyInfo;
    return api.CryptHashPublicKeyInfo(0, CALG_SHA_256, 0, X509_ASN_ENCODING, key, signer->keyHash,
                                      &size) &&
           size == sizeof signer->keyHash;
}

Signer SignerOf(const win::Crypt32Calls& api, const Bytes& signature)
{
    Signer result;
    win::CertStore store;
    win::CryptMessage message;
    if (!OpenSignature(signature, &store, &message)) return result;
    const Bytes infoBytes = ReadSignerInfo(api, message.get());
    if (infoBytes.size() < sizeof(CMSG_SIGNER_INFO)) return result;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(infoBytes.data());
    CERT_INFO wanted{};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    const win::CertContext certificate(
        api.CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                       CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    if (!certificate) return result;
    result.name = DisplayName(api, certificate.get());
    result.hasKeyHash = HashPublicKey(api, certificate.get(), &result);
    return result;
}

Signer ReadSigner(const std::wstring& path, HANDLE lockedFile, sys::PackageKind kind)
{
    if (kind == sys::PackageKind::None) return Signer();
    const win::Crypt32Calls* api = Crypt();
    if (!api) return Signer();
    const Bytes signature = ReadSignature(*api, path, lockedFile, kind);
    if (signature.empty()) return Signer();
    return SignerOf(*api, signature);
}

// Our own refusal before the provider: a PE image without a certificate table, or with one
// that has room for bytes the signature does not cover.
bool LayoutAllowsTrust(HANDLE file, sys::PackageKind kind)
{
    if (kind != sys::PackageKind::PortableExecutable) return true;
    return !ReadCheckedPeSignature(file).empty();
}

PackageVerdict RefusePackage(PackageVerdict verdict, const std::wstring& why)
{
    win::Trail(L"package check: refused, " + why);
    return verdict;
}

}  // namespace

win::File OpenLocked(const std::wstring& path)
{
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than its target, and a link is
    // refused: the name must be the file. (Wine 8 ignores the flag and follows Unix symlinks
    // without a reparse attribute; StartJudgedProcess catches a link re-pointed after this.)
    win::File file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return win::File();
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return win::File();
    return file;
}

win::File OpenLockedIn(HANDLE folder, const std::wstring& name)
{
    constexpr win::EntryOpen kLocked{GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                                     FILE_NON_DIRECTORY_FILE};
    win::File file;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (win::OpenInFolder(folder, name, kLocked, &file) != win::EntryResult::Opened ||
        !win::Kernel32().GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag,
                                                      sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return win::File();
    return file;
}

sys::PackageKind ClassifyPackage(const std::wstring& path, HANDLE lockedFile)
{
    // A name of no verifiable type is refused before a byte of the file is read.
    if (!sys::IsVerifiableFileType(path)) return sys::PackageKind::None;
    Bytes head;
    uint64_t size = 0;
    if (!ReadHead(lockedFile, &head, &size)) return sys::PackageKind::None;
    return sys::ClassifyPackage(path, head.data(), head.size());
}

bool VerifyFileTrustWith(decltype(&::WinVerifyTrust) verify, const std::wstring& path,
                         HANDLE lockedFile, sys::PackageKind kind)
{
    if (kind == sys::PackageKind::None) return false;
    if (!verify || !LayoutAllowsTrust(lockedFile, kind)) return false;

    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    file.hFile = lockedFile;  // the provider reads our locked handle, not the path
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Nothing is fetched here, so a missing intermediate or a slow server never stalls the
    // check: revocation is asked separately, with its own time limit (sys/revocation.h).
    data.dwProvFlags = WTD_SAFER_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    GUID action = kGenericVerifyV2;

    const LONG verified = verify(nullptr, &action, &data);
    // Whatever the verifying call said, the closing call releases the provider's state.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return verified == 0;
}

int VerifyFileTrust(const std::wstring& path, HANDLE lockedFile, sys::PackageKind kind)
{
    return VerifyFileTrustWith(win::WinTrust().WinVerifyTrust, path, lockedFile, kind);
}

int VerifyFileTrust(const std::wstring& path)
{
    if (!sys::IsVerifiableFileType(path)) return 0;
    win::File file = OpenLocked(path);
    return file ? VerifyFileTrust(path, file.get(), ClassifyPackage(path, file.get())) : 0;
}

Bytes ReadSignatureBlob(const std::wstring& path, HANDLE lockedFile, sys::PackageKind kind)
{
    const win::Crypt32Calls* api = Crypt();
    return api && kind != sys::PackageKind::None ? ReadSignature(*api, path, lockedFile, kind)
                                                 : Bytes();
}

SignerJudgement JudgeSigner(const Bytes& signature, const sys::KeyPins& pins, std::wstring* name)
{
    const win::Crypt32Calls* api = Crypt();
    const Signer signer = api && !signature.empty() ? SignerOf(*api, signature) : Signer();
    *name = signer.name;
    if (signer.name.empty()) return SignerJudgement::Unreadable;
    if (!sys::SignerNameHasMark(signer.name)) return SignerJudgement::NoMark;
    if (!sys::IsKeyPinned(signer.hasKeyHash ? signer.keyHash : nullptr, pins))
        return SignerJudgement::NotPinned;
    return SignerJudgement::Maker;
}

bool BuildCachedChain(HCERTSTORE signatureStore, PCCERT_CONTEXT signer, win::CertChain* chain)
{
    const auto build = win::Crypt32().CertGetCertificateChain;
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    return build &&
           build(nullptr, signer, nullptr, signatureStore, &para,
                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE,
                 nullptr, chain->receive()) &&
           *chain && chain->get()->cChain != 0;
}

bool OpenSignature(const Bytes& signature, win::CertStore* store, win::CryptMessage* message)
{
    const auto query = win::Crypt32().CryptQueryObject;
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(signature.size()), const_cast<BYTE*>(signature.data())};
    return query && query(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr,
                          store->receive(), message->receive(), nullptr);
}

std::wstring GetSignerName(const std::wstring& path, HANDLE lockedFile, sys::PackageKind kind)
{
    return ReadSigner(path, lockedFile, kind).name;
}

std::wstring GetSignerName(const std::wstring& path)
{
    if (!sys::IsVerifiableFileType(path)) return std::wstring();
    win::File file = OpenLocked(path);
    return file ? GetSignerName(path, file.get(), ClassifyPackage(path, file.get()))
                : std::wstring();
}

std::wstring DescribeRefusedSigner(SignerJudgement judgement, const std::wstring& name)
{
    switch (judgement) {
    case SignerJudgement::Maker: break;
    case SignerJudgement::Unreadable: return L"its signer cannot be read";
    case SignerJudgement::NoMark: return L"its signer \"" + name + L"\" lacks the maker's mark";
    case SignerJudgement::NotPinned:
        return L"its signer \"" + name + L"\" signed with a key not pinned";
    }
    return std::wstring();
}

PackageVerdict CheckPackage(const std::wstring& path, const sys::KeyPins& pins, JudgedFile* judged)
{
    *judged = JudgedFile();
    if (path.empty()) return RefusePackage(PackageVerdict::BadSignature, L"no package path");
    return CheckOpenedPackage(path, OpenLocked(path), pins, judged);
}

PackageVerdict CheckOpenedPackage(const std::wstring& path, win::File file,
                                  const sys::KeyPins& pins, JudgedFile* judged)
{
    *judged = JudgedFile();
    if (!file)
        return RefusePackage(PackageVerdict::BadSignature,
                             L"the file cannot be opened with writers and deleters shut out");
    const sys::PackageKind kind = ClassifyPackage(path, file.get());
    if (kind == sys::PackageKind::None)
        return RefusePackage(
            PackageVerdict::BadSignature,
            L"its name is of no signed type, or promises another kind than its content");
    if (!LayoutAllowsTrust(file.get(), kind))
        return RefusePackage(PackageVerdict::BadSignature,
                             L"a PE image without one sound certificate table ending the file");
    if (!VerifyFileTrust(path, file.get(), kind))
        return RefusePackage(PackageVerdict::BadSignature,
                             L"the trust provider does not accept its signature");
    Bytes signature = ReadSignatureBlob(path, file.get(), kind);
    std::wstring name;
    const SignerJudgement signer = JudgeSigner(signature, pins, &name);
    if (signer != SignerJudgement::Maker)
        return RefusePackage(PackageVerdict::OtherSigner, DescribeRefusedSigner(signer, name));
    win::Trail(L"package check: accepted, signed by \"" + name + L"\"");
    *judged = JudgedFile{std::move(file), kind, std::move(signature), std::move(name)};
    return PackageVerdict::Accepted;
}

int VerifyPackage(const std::wstring& path, win::File* lock)
{
    JudgedFile judged;
    const bool accepted =
        CheckPackage(path, sys::BuiltInKeyPins(), &judged) == PackageVerdict::Accepted;
    *lock = std::move(judged.file);
    return accepted ? 1 : 0;
}

int VerifyPackage(const std::wstring& path)
{
    win::File lock;
    return VerifyPackage(path, &lock);
}

}  // namespace sys

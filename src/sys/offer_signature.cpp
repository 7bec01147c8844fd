#include "sys/offer_signature.h"

#include <wincrypt.h>

#include <cstring>

#include "sys/trust.h"
#include "win/syslib.h"
#include "win/trail.h"

namespace sys {
namespace {

using Bytes = std::vector<unsigned char>;

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const DWORD kSha256Bytes = 32;

// The crypt32 calls of the signature's own step; null when the system lacks one of them.
const win::Crypt32Calls* Crypt()
{
    const win::Crypt32Calls& api = win::Crypt32();
    return win::IfPresent(api, api.CryptVerifyDetachedMessageSignature, api.CryptHashCertificate,
                          api.CertVerifyCertificateChainPolicy, api.CryptQueryObject,
                          api.CryptMsgGetParam, api.CryptMsgClose, api.CertCloseStore,
                          api.CertFreeCertificateContext, api.CertGetCertificateChain,
                          api.CertFreeCertificateChain);
}

OfferVerdict Refuse(OfferVerdict verdict, const std::wstring& why)
{
    win::Trail(L"offer signature: refused, " + why);
    return verdict;
}

std::wstring Hex(DWORD value)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += digits[(value >> shift) & 0xF];
    return text;
}

// The signature over the signed attributes (or over the body, without them), by the first
// signer; `signer` receives that signer's certificate from the signature.
bool VerifySignature(const win::Crypt32Calls& api, const unsigned char* body, size_t length,
                     const Bytes& signature, win::CertContext* signer)
{
    CRYPT_VERIFY_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = kEncoding;
    const BYTE* parts[] = {body};
    DWORD sizes[] = {static_cast<DWORD>(length)};
    return api.CryptVerifyDetachedMessageSignature(&para, 0, signature.data(),
                                                   static_cast<DWORD>(signature.size()), 1, parts,
                                                   sizes, signer->receive()) != FALSE;
}

// A parameter of the message, in a buffer of our own; empty when it cannot be read.
Bytes ReadParam(const win::Crypt32Calls& api, HCRYPTMSG message, DWORD param)
{
    DWORD size = 0;
    if (!api.CryptMsgGetParam(message, param, 0, nullptr, &size) || size == 0) return Bytes();
    Bytes bytes(size, 0);
    if (!api.CryptMsgGetParam(message, param, 0, bytes.data(), &size)) return Bytes();
    bytes.resize(size);
    return bytes;
}

bool HasOneSigner(const win::Crypt32Calls& api, HCRYPTMSG message)
{
    DWORD count = 0, size = sizeof count;
    return api.CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size) &&
           size == sizeof count && count == 1;
}

// The signed messageDigest attribute's value: the DER OCTET STRING of the digest.
const CRYPT_ATTR_BLOB* MessageDigestAttribute(const CMSG_SIGNER_INFO& signer)
{
    for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer.AuthAttrs.rgAttr[i];
        if (attribute.pszObjId && std::strcmp(attribute.pszObjId, szOID_RSA_messageDigest) == 0)
            return attribute.cValue == 1 ? &attribute.rgValue[0] : nullptr;
    }
    return nullptr;
}

// The first signer digests with SHA-256, and the digest its signed attributes carry is the
// body's own. The signature check above covers those attributes, so this binds it to the body.
bool DigestIsTheBodys(const win::Crypt32Calls& api, HCRYPTMSG message, const unsigned char* body,
                      size_t length)
{
    const Bytes info = ReadParam(api, message, CMSG_SIGNER_INFO_PARAM);
    if (info.size() < sizeof(CMSG_SIGNER_INFO)) return false;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
    if (!signer->HashAlgorithm.pszObjId ||
        std::strcmp(signer->HashAlgorithm.pszObjId, szOID_NIST_sha256) != 0)
        return false;
    const CRYPT_ATTR_BLOB* digest = MessageDigestAttribute(*signer);
    if (!digest || digest->cbData != 2 + kSha256Bytes || digest->pbData[0] != 0x04 ||
        digest->pbData[1] != kSha256Bytes)
        return false;
    BYTE hash[kSha256Bytes] = {};
    DWORD size = sizeof hash;
    return api.CryptHashCertificate(0, CALG_SHA_256, 0, body, static_cast<DWORD>(length), hash,
                                    &size) &&
           size == sizeof hash && std::memcmp(hash, digest->pbData + 2, sizeof hash) == 0;
}

// The signer's chain, built from what is at hand as for the revocation check, ends in a root
// the system trusts, and each certificate is valid now. (The package's chain is judged by
// WinVerifyTrust; a detached signature has no provider of its own.) The error when not.
DWORD ChainError(const win::Crypt32Calls& api, HCERTSTORE store, PCCERT_CONTEXT signer)
{
    win::CertChain chain;
    if (!BuildCachedChain(store, signer, &chain)) return static_cast<DWORD>(CERT_E_CHAINING);
    // Any fault the chain engine found refuses it, whether or not the policy below counts it.
    if (chain.get()->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR)
        return chain.get()->TrustStatus.dwErrorStatus;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!api.CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain.get(), &policy,
                                              &status))
        return ::GetLastError() ? ::GetLastError() : static_cast<DWORD>(CERT_E_CHAINING);
    return status.dwError;
}

}  // namespace

const wchar_t* DescribeOfferVerdict(OfferVerdict verdict)
{
    switch (verdict) {
    case OfferVerdict::Accepted: return L"accepted";
    case OfferVerdict::BadSignature: return L"bad signature";
    case OfferVerdict::OtherSigner: return L"other signer";
    case OfferVerdict::Revoked: return L"revoked";
    }
    return L"bad signature";
}

OfferVerdict CheckOfferSignature(const unsigned char* body, size_t length, const Bytes& signature,
                                 const sys::KeyPins& pins, unsigned long revocationBudgetMs)
{
    const win::Crypt32Calls* api = Crypt();
    if (!api) return Refuse(OfferVerdict::BadSignature, L"crypt32 lacks a call the check needs");
    // Both come from a control file of at most a few kilobytes (sys::kControlFileLimit).
    if (length == 0 || signature.empty())
        return Refuse(OfferVerdict::BadSignature, L"no body, or no signature");
    win::CertStore store;
    win::CryptMessage message;
    if (!OpenSignature(signature, &store, &message) || !HasOneSigner(*api, message.get()))
        return Refuse(OfferVerdict::BadSignature, L"not a signature with one signer");
    win::CertContext signer;
    if (!VerifySignature(*api, body, length, signature, &signer) || !signer)
        return Refuse(OfferVerdict::BadSignature,
                      L"the signature does not verify (error " + Hex(::GetLastError()) + L")");
    if (!DigestIsTheBodys(*api, message.get(), body, length))
        return Refuse(OfferVerdict::BadSignature,
                      L"its signed SHA-256 digest is not the body's (a changed body, or no "
                      L"signed digest)");
    const DWORD chain = ChainError(*api, store.get(), signer.get());
    if (chain != 0)
        return Refuse(OfferVerdict::BadSignature,
                      L"the signer's chain is not trusted now (error " + Hex(chain) + L")");
    std::wstring name;
    const SignerJudgement judgement = JudgeSigner(signature, pins, &name);
    if (judgement != SignerJudgement::Maker)
        return Refuse(judgement == SignerJudgement::Unreadable ? OfferVerdict::BadSignature
                                                               : OfferVerdict::OtherSigner,
                      DescribeRefusedSigner(judgement, name));
    if (CheckSignatureRevocation(signature, revocationBudgetMs) == Revocation::Revoked)
        return Refuse(OfferVerdict::Revoked, L"its signer \"" + name + L"\" was revoked");
    win::Trail(L"offer signature: accepted, signed by \"" + name + L"\"");
    return OfferVerdict::Accepted;
}

}  // namespace sys

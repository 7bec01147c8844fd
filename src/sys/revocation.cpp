// mingw-w64 declares dwUrlRetrievalTimeout in CERT_REVOCATION_PARA only with this defined,
// and <windows.h> brings <wincrypt.h> in: it must come before any include.
#define CERT_REVOCATION_PARA_HAS_EXTRA_FIELDS
#include "sys/revocation.h"

#include <wincrypt.h>

#include <algorithm>
#include <vector>

#include "sys/trust.h"
#include "win/syslib.h"
#include "win/thread.h"
#include "win/trail.h"
#include "rules/wstr.h"

namespace sys {
namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// What the servers' own time-out leaves of the budget for our own bookkeeping.
const unsigned long kMarginMs = 250;

// The crypt32 calls the check makes; null when the system lacks one of them.
const win::Crypt32Calls* Crypt()
{
    const win::Crypt32Calls& api = win::Crypt32();
    return win::IfPresent(api, api.CryptQueryObject, api.CryptMsgGetParam, api.CryptMsgClose,
                          api.CertCloseStore, api.CertFreeCertificateContext,
                          api.CertGetSubjectCertificateFromStore, api.CertGetCertificateChain,
                          api.CertFreeCertificateChain, api.CertFindExtension,
                          api.CertVerifyRevocation);
}

// Where a certificate says its revocation can be asked: a CRL distribution point, or the
// authority information access that may carry an OCSP address.
bool NamesARevocationServer(const win::Crypt32Calls& api, PCCERT_CONTEXT certificate)
{
    const CERT_INFO* info = certificate->pCertInfo;
    return api.CertFindExtension(szOID_CRL_DIST_POINTS, info->cExtension, info->rgExtension) ||
           api.CertFindExtension(szOID_AUTHORITY_INFO_ACCESS, info->cExtension, info->rgExtension);
}

// The certificates found revoked in this process. Wine 8 answers a second CertVerifyRevocation
// for a certificate it has just called revoked with success (its cached answer), so Retry would
// pass a revoked signer; a revocation is never taken back, so ours stands until the end.
class RevokedSoFar {
public:
    bool Holds(PCCERT_CONTEXT certificate)
    {
        win::Locked hold(m_lock);
        for (const auto& known : m_certificates)
            if (Same(known, certificate)) return true;
        return false;
    }
    void Add(PCCERT_CONTEXT certificate)
    {
        win::Locked hold(m_lock);
        m_certificates.emplace_back(certificate->pbCertEncoded,
                                    certificate->pbCertEncoded + certificate->cbCertEncoded);
    }

private:
    static bool Same(const std::vector<unsigned char>& known, PCCERT_CONTEXT certificate)
    {
        return known.size() == certificate->cbCertEncoded &&
               std::equal(known.begin(), known.end(), certificate->pbCertEncoded);
    }

    win::Lock m_lock;
    std::vector<std::vector<unsigned char>> m_certificates;
};

// Never destroyed: a check left running past its deadline may still add to it at exit.
RevokedSoFar& Revoked()
{
    static RevokedSoFar* revoked = new RevokedSoFar;
    return *revoked;
}

// The check on a pool thread that owns its copy of the signature and everything it opens, so
// that a caller who walked away at the deadline is never touched again.
class RevocationJob : public win::DeadlineJob {
public:
    RevocationJob(const win::Crypt32Calls& api, std::vector<unsigned char> signature,
                  unsigned long budgetMs)
        : m_api(api), m_signature(std::move(signature)), m_deadline(budgetMs)
    {
    }
    Revocation result = Revocation::NoInformation;
    std::wstring why;  // for the trail: what was asked, and what answered

private:
    void Run() override
    {
        win::CertStore store;
        win::CryptMessage message;
        if (!OpenSignature(m_signature, &store, &message)) {
            why = L"the signature could not be read";
            return;
        }
        CheckSigner(store.get(), message.get());
    }

    void CheckSigner(HCERTSTORE store, HCRYPTMSG message)
    {
        DWORD size = 0;
        if (!m_api.CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) ||
            size < sizeof(CERT_INFO)) {
            why = L"the signature names no signer";
            return;
        }
        std::vector<unsigned char> infoBytes(size);
        if (!m_api.CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, infoBytes.data(),
                                    &size)) {
            why = L"the signature names no signer";
            return;
        }
        const win::CertContext signer(m_api.CertGetSubjectCertificateFromStore(
            store, kEncoding, reinterpret_cast<CERT_INFO*>(infoBytes.data())));
        if (!signer) {
            why = L"the signer's certificate is not in the signature";
            return;
        }
        CheckChain(store, signer.get());
    }

    void CheckChain(HCERTSTORE store, PCCERT_CONTEXT signer)
    {
        // The same chain as the signature's judgement: built from what is at hand.
        win::CertChain chain;
        if (!BuildCachedChain(store, signer, &chain)) {
            why = L"no chain could be built for the signer";
            return;
        }
        const CERT_SIMPLE_CHAIN* simple = chain.get()->rgpChain[0];
        // Each certificate against its issuer; the root is trusted as it is, and a certificate
        // whose issuer is not at hand cannot be asked about.
        bool asked = false, offline = false;
        for (DWORD i = 0; i + 1 < simple->cElement && result != Revocation::Revoked; ++i) {
            PCCERT_CONTEXT certificate = simple->rgpElement[i]->pCertContext;
            if (!NamesARevocationServer(m_api, certificate)) continue;
            asked = true;
            const DWORD error = Revoked().Holds(certificate)
                                    ? static_cast<DWORD>(CRYPT_E_REVOKED)
                                    : Ask(certificate, simple->rgpElement[i + 1]->pCertContext);
            if (error == static_cast<DWORD>(CRYPT_E_REVOKED)) {
                Revoked().Add(certificate);
                result = Revocation::Revoked;
                why = L"certificate " + rules::Decimal(i) + L" of the chain is revoked";
            } else if (error != ERROR_SUCCESS) {
                offline = true;
                why = L"certificate " + rules::Decimal(i) + L": no answer (error 0x" + Hex(error) +
                      L")";
            }
        }
        chain.reset();
        if (result == Revocation::Revoked) return;
        if (!asked) {
            why = L"no certificate of the chain names a revocation server";
            result = Revocation::NoInformation;
        } else {
            result = offline ? Revocation::NoAnswer : Revocation::NotRevoked;
            if (!offline) why = L"every server answered";
        }
    }

    DWORD Ask(PCCERT_CONTEXT certificate, PCCERT_CONTEXT issuer)
    {
        const unsigned long left = m_deadline.RemainingMs();
        if (left <= kMarginMs) return static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE);
        CERT_REVOCATION_PARA para{};
        para.cbSize = sizeof para;
        para.pIssuerCert = issuer;  // Wine asks nothing without it
        para.dwUrlRetrievalTimeout = left - kMarginMs;
        CERT_REVOCATION_STATUS status{};
        status.cbSize = sizeof status;
        void* context = const_cast<CERT_CONTEXT*>(certificate);
        if (m_api.CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE, 1, &context,
                                       CERT_VERIFY_REV_ACCUMULATIVE_TIMEOUT_FLAG, &para, &status))
            return ERROR_SUCCESS;
        return status.dwError ? status.dwError : ::GetLastError();
    }

    static std::wstring Hex(DWORD value)
    {
        static const wchar_t digits[] = L"0123456789ABCDEF";
        std::wstring text;
        for (int shift = 28; shift >= 0; shift -= 4) text += digits[(value >> shift) & 0xF];
        return text;
    }

    const win::Crypt32Calls& m_api;  // bound for the life of the process
    std::vector<unsigned char> m_signature;
    const win::Deadline m_deadline;
};

}  // namespace

const wchar_t* DescribeRevocation(Revocation revocation)
{
    switch (revocation) {
    case Revocation::NotRevoked: return L"not revoked";
    case Revocation::Revoked: return L"revoked";
    case Revocation::NoAnswer: return L"no answer in time, accepted";
    case Revocation::NoInformation: return L"no revocation information, accepted";
    }
    return L"no revocation information, accepted";
}

Revocation CheckSignatureRevocation(std::vector<unsigned char> signature, unsigned long budgetMs)
{
    const win::Deadline deadline(budgetMs);
    const win::Crypt32Calls* api = Crypt();
    Revocation result = Revocation::NoInformation;
    std::wstring why = L"the signature could not be read";
    if (api && !signature.empty()) {
        win::Shared<RevocationJob> job(new RevocationJob(*api, std::move(signature), budgetMs));
        if (job->RunBefore(deadline)) {
            result = job->result;
            why = job->why;
        } else {
            result = Revocation::NoAnswer;
            why = L"the check did not end within " + rules::Decimal(budgetMs) + L" ms";
        }
    }
    win::Trail(std::wstring(L"revocation: ") + DescribeRevocation(result) + L" (" + why + L")");
    return result;
}

Revocation CheckRevocation(const JudgedFile& judged, unsigned long budgetMs)
{
    return CheckSignatureRevocation(judged.signature, budgetMs);
}

}  // namespace sys

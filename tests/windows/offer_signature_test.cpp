// The control file's detached signature, judged with the real crypt32 over signatures that
// openssl cms made with the test PKI at build time (make-pki.sh).
#include "sys/offer_signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace testing_support;

namespace {

const auto* const g_root = ::testing::AddGlobalTestEnvironment(new TestRootEnvironment);

using Bytes = std::vector<unsigned char>;

Bytes Read(const std::wstring& name)
{
    const std::string bytes = ReadBytes(PkiPath(name));
    EXPECT_FALSE(bytes.empty()) << "missing fixture";
    return Bytes(bytes.begin(), bytes.end());
}

std::string Pin(const wchar_t* signer)
{
    std::string pin = ReadBytes(PkiPath(std::wstring(signer) + L".pin"));
    while (!pin.empty() && (pin.back() == '\n' || pin.back() == '\r')) pin.pop_back();
    EXPECT_EQ(pin.size(), 64u) << "no pin for the signer";
    return pin;
}

sys::OfferVerdict Judge(const Bytes& body, const Bytes& signature, const sys::KeyPins& pins = {})
{
    // No certificate of the test PKI names a revocation server: nothing is fetched here.
    return sys::CheckOfferSignature(body.data(), body.size(), signature, pins, 2000);
}

TEST(OfferSignature, AcceptsOnlyTheMakersSignatureOverTheVeryBody)
{
    const Bytes body = Read(L"offer-body.ini");
    const Bytes good = Read(L"offer-dekavroline.p7s");
    Bytes changed = body;
    changed[body.size() / 2] ^= 0x01;  // inside Revision=99's line or before
    Bytes longer = body;
    longer.push_back('\n');
    Bytes shorter(body.begin(), body.end() - 1);
    Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
    Bytes flippedSignature = good;
    flippedSignature[flippedSignature.size() - 10] ^= 0x40;  // inside the signature value
    const struct {
        const char* what;
        Bytes body;
        Bytes signature;
        sys::OfferVerdict expected;
    } cases[] = {
        {"good", body, good, sys::OfferVerdict::Accepted},
        {"one body byte changed", changed, good, sys::OfferVerdict::BadSignature},
        {"a byte added to the body", longer, good, sys::OfferVerdict::BadSignature},
        {"the body's last byte gone", shorter, good, sys::OfferVerdict::BadSignature},
        {"the signature's value changed", body, flippedSignature, sys::OfferVerdict::BadSignature},
        {"another signer", body, Read(L"offer-other.p7s"), sys::OfferVerdict::OtherSigner},
        {"not a signature: a certificate", body, Read(L"root.der"),
         sys::OfferVerdict::BadSignature},
        {"not a signature: text", body, Bytes(body.begin(), body.end()),
         sys::OfferVerdict::BadSignature},
        {"half a signature", body, cut, sys::OfferVerdict::BadSignature},
        {"no signature", body, Bytes(), sys::OfferVerdict::BadSignature},
        // Without signed attributes there is no signed digest to hold the body to.
        {"no signed attributes", body, Read(L"offer-noattr.p7s"), sys::OfferVerdict::BadSignature},
        {"a SHA-1 digest", body, Read(L"offer-sha1.p7s"), sys::OfferVerdict::BadSignature},
        // A signer with the mark under a root that is in no store of the system: its chain
        // stops short of a root (the signature carries only the signer), or ends in a root
        // nobody trusts (it carries the root too). Wine 8's base chain policy answers success
        // for the first; the chain engine's own status says partial chain, which we refuse.
        {"a root in no store", body, Read(L"offer-stranger.p7s"), sys::OfferVerdict::BadSignature},
        {"an untrusted root", body, Read(L"offer-stranger-root.p7s"),
         sys::OfferVerdict::BadSignature},
    };
    for (const auto& c : cases) EXPECT_EQ(Judge(c.body, c.signature), c.expected) << c.what;
}

// The key pins hold for the offer as for the package: the same judgement.
TEST(OfferSignature, HoldsTheSignerToThePinnedKeys)
{
    const Bytes body = Read(L"offer-body.ini");
    const std::string maker = Pin(L"dekavroline"), impostor = Pin(L"impostor");
    const Bytes good = Read(L"offer-dekavroline.p7s"), other = Read(L"offer-impostor.p7s");
    EXPECT_EQ(Judge(body, good, {maker}), sys::OfferVerdict::Accepted);
    EXPECT_EQ(Judge(body, good, {impostor}), sys::OfferVerdict::OtherSigner);
    EXPECT_EQ(Judge(body, other, {}), sys::OfferVerdict::Accepted);  // the name alone decides
    EXPECT_EQ(Judge(body, other, {maker}), sys::OfferVerdict::OtherSigner);
    EXPECT_EQ(Judge(body, other, {impostor, maker}), sys::OfferVerdict::Accepted);
}

}  // namespace

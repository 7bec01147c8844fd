#include "pack/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "payload_builder.h"

namespace {

using testpayload::Bytes;
using testpayload::Hex;

// Fed in pieces of `piece` bytes, so blocks straddle the calls.
std::string Sha256Hex(const std::string& text, size_t piece, pack::Sha256::Engine engine)
{
    pack::Sha256 hash(engine);
    for (size_t at = 0; at < text.size(); at += piece)
        hash.Update(Bytes(text) + at, std::min(piece, text.size() - at));
    unsigned char digest[pack::Sha256::kDigestSize];
    hash.Finish(digest);
    return Hex(digest, sizeof(digest));
}

// Best takes the processor's SHA instructions where this machine has them; Portable never.
TEST(Sha256, BothEnginesMatchTheStandardVectorsWhateverTheFeedSize)
{
    const std::string million(1000000, 'a');
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: padding spills
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto engine : {pack::Sha256::Engine::Best, pack::Sha256::Engine::Portable}) {
        for (const auto& c : cases) {
            for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{1000}, size_t{1} << 20})
                EXPECT_EQ(Sha256Hex(c.text, piece, engine), c.digest)
                    << c.text.size() << " by " << piece
                    << (engine == pack::Sha256::Engine::Best ? " best" : " portable");
        }
    }
}

}  // namespace

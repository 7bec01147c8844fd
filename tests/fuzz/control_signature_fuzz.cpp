// Splits arbitrary bytes as a signed control file; ASan reports any read outside them. What a
// split calls signed must be a body the packer would sign (a final line break, no line reading
// [Signature]) whose section, written again by the packer's rule, splits back to the same
// signature; and a time the Expires= rule reads must write back as the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "rules/control_signature.h"

namespace {

void CheckSplit(const std::uint8_t* data, std::size_t size)
{
    rules::SignedControl split;
    if (rules::SplitControlFile(data, size, &split) != rules::ControlForm::Signed) {
        if (split.bodyLength != 0 || !split.signature.empty()) std::abort();
        return;
    }
    if (split.bodyLength == 0 || split.bodyLength >= size || split.signature.empty()) std::abort();
    if (rules::CheckBodyToSign(data, split.bodyLength) != rules::BodyProblem::None) std::abort();
    std::vector<unsigned char> again(data, data + split.bodyLength);
    const std::vector<unsigned char> section =
        rules::SignatureSection(data, split.bodyLength, split.signature);
    again.insert(again.end(), section.begin(), section.end());
    rules::SignedControl second;
    if (rules::SplitControlFile(again.data(), again.size(), &second) !=
            rules::ControlForm::Signed ||
        second.bodyLength != split.bodyLength || second.signature != split.signature)
        std::abort();
}

void CheckTime(const std::uint8_t* data, std::size_t size)
{
    std::wstring text;
    for (std::size_t i = 0; i < size && i < 32; ++i) text += static_cast<wchar_t>(data[i]);
    std::int64_t seconds = 0;
    if (rules::ParseUtcTime(text, &seconds) && rules::FormatUtcTime(seconds) != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CheckSplit(data, size);
    CheckTime(data, size);
    return 0;
}

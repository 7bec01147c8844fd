// What only the packer writes of a signed control file. A file of its own, as
// package_record_text.cpp: mingw's linker keeps every function of an object it takes, and
// Morvane.exe, which only reads control files, links no narrow-string code.
#include "rules/control_signature.h"

#include "rules/control_signature_form.h"

namespace rules {
namespace {

void AppendUnit(unsigned unit, const BodyForm& form, std::vector<unsigned char>* out)
{
    if (form.width == 1) {
        out->push_back(static_cast<unsigned char>(unit));
    } else if (form.bigEndian) {
        out->push_back(static_cast<unsigned char>(unit >> 8));
        out->push_back(static_cast<unsigned char>(unit & 0xFF));
    } else {
        out->push_back(static_cast<unsigned char>(unit & 0xFF));
        out->push_back(static_cast<unsigned char>(unit >> 8));
    }
}

}  // namespace

std::string EncodeBase64(const unsigned char* bytes, size_t length)
{
    std::string text;
    text.reserve((length + 2) / 3 * 4);
    for (size_t at = 0; at < length; at += 3) {
        const size_t count = length - at < 3 ? length - at : 3;
        unsigned long group = static_cast<unsigned long>(bytes[at]) << 16;
        if (count > 1) group |= static_cast<unsigned long>(bytes[at + 1]) << 8;
        if (count > 2) group |= bytes[at + 2];
        text += kBase64Alphabet[(group >> 18) & 0x3F];
        text += kBase64Alphabet[(group >> 12) & 0x3F];
        text += count > 1 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
        text += count > 2 ? kBase64Alphabet[group & 0x3F] : '=';
    }
    return text;
}

std::vector<unsigned char> EncodeLikeBody(const unsigned char* body, size_t length,
                                          const std::string& text)
{
    const BodyForm form = FormOfBody(body, length);
    std::vector<unsigned char> bytes;
    for (char c : text) {
        if (c == '\n' && form.crlf) AppendUnit('\r', form, &bytes);
        AppendUnit(static_cast<unsigned char>(c), form, &bytes);
    }
    return bytes;
}

std::vector<unsigned char> SignatureSection(const unsigned char* body, size_t length,
                                            const std::vector<unsigned char>& signature)
{
    return EncodeLikeBody(body, length,
                          std::string(kSignatureLine) + "\n" + kKey +
                              EncodeBase64(signature.data(), signature.size()) + "\n");
}

}  // namespace rules

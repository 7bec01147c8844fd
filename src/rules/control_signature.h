// The signed control file: where its body ends and its signature begins, and until when the
// maker vouches for it. Portable: bytes in, no platform call; the signature itself is judged
// by sys::CheckOfferSignature.
//
// The form, which older Morvane versions read as one more section to ignore and which any
// signing tool can make (a detached CMS SignedData over the body's bytes as stored):
//
//   <body: every byte before the first line that reads exactly "[Signature]"; it ends with a
//    line break>
//   [Signature]
//   PKCS7=<standard base64 of the DER signature, padded, on one line>
//   <nothing but one line break>
//
// A file in UTF-16 (a byte-order mark first) carries its signature section in UTF-16 too; its
// body is the bytes as stored, the mark included.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rules {

// What the bytes of a control file are, before any cryptography.
enum class ControlForm {
    Signed,          // a body and a signature section of the form above
    Unsigned,        // no line reads "[Signature]"
    EmptyBody,       // the signature section is all there is
    NotOneKey,       // the line after "[Signature]" is not "PKCS7=" and a value
    NotBase64,       // that value is not strict, padded base64 of at least one byte
    BytesAfter,      // more than one line break after the value (a second section included)
    OddUtf16Length,  // a UTF-16 file whose length is not a whole number of characters
};

// "unsigned", "bytes after the signature"... for the trail.
const wchar_t* DescribeControlForm(ControlForm form);

// The place of the body and the signature's bytes.
struct SignedControl {
    size_t bodyLength = 0;                 // the body is the first bodyLength bytes
    std::vector<unsigned char> signature;  // the DER signature, decoded
};

// Splits `length` bytes of a control file. On Signed, `split` holds the body's length and the
// decoded signature; on any other answer `split` is left empty.
ControlForm SplitControlFile(const unsigned char* bytes, size_t length, SignedControl* split);

// Strict standard base64: only A-Z a-z 0-9 + /, a length that is a multiple of four, "=" only
// as the one or two last characters, and no bits set past the last byte. Empty text is
// refused. On false `bytes` is left empty.
bool DecodeBase64(const std::wstring& text, std::vector<unsigned char>* bytes);

// How a body is written: 1-byte units, or UTF-16 after its mark (big-endian after FE FF), and
// whether its last line ends in CRLF.
struct BodyForm {
    size_t width = 1;
    bool bigEndian = false;
    bool crlf = false;
};
BodyForm FormOfBody(const unsigned char* body, size_t length);

// The writers only the packer needs (control_signature_text.cpp).
// The padded standard form that DecodeBase64 reads back.
std::string EncodeBase64(const unsigned char* bytes, size_t length);

// ASCII `text` whose lines end in "\n", in the body's encoding (UTF-16LE or UTF-16BE after its
// mark, bytes otherwise) and with the body's line ends (CRLF when its last line ends so).
std::vector<unsigned char> EncodeLikeBody(const unsigned char* body, size_t length,
                                          const std::string& text);

// The signature section for a body: "[Signature]", "PKCS7=" and the base64 of `signature`,
// each line ending as the body's last line does (CRLF or LF), in the body's encoding (UTF-16LE
// or UTF-16BE after its mark, bytes otherwise).
std::vector<unsigned char> SignatureSection(const unsigned char* body, size_t length,
                                            const std::vector<unsigned char>& signature);

// Why a body cannot be signed: it does not end with a line break, or a line of it already
// reads "[Signature]" (the split would end the body there).
enum class BodyProblem { None, Empty, NoFinalLineBreak, HoldsSignatureLine };
BodyProblem CheckBodyToSign(const unsigned char* body, size_t length);

// The [Morvane] section's Expires= form, "YYYY-MM-DDTHH:MM:SSZ" (UTC, a real date and time of
// day, no leap second), as seconds since 1970-01-01T00:00:00Z (negative before). False for
// any other text.
bool ParseUtcTime(const std::wstring& text, std::int64_t* seconds);
// The same moment written back in that form.
std::wstring FormatUtcTime(std::int64_t seconds);

// A Windows FILETIME (100 ns ticks since 1601) as seconds since 1970, rounded down.
std::int64_t UnixSecondsFromFileTime(std::uint64_t ticks);

// Past its Expires= the offer is refused; at that very second it still holds.
bool IsExpired(std::int64_t expires, std::int64_t now);

}  // namespace rules

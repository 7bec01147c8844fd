// The signed control file's fixed texts, shared by its reader (control_signature.cpp) and its
// writer (control_signature_text.cpp).
#pragma once

namespace rules {

inline constexpr char kSignatureLine[] = "[Signature]";
inline constexpr char kKey[] = "PKCS7=";
inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace rules

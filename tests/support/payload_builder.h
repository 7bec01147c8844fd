// Payloads for the tests, well-formed or not: entries as given, digest made to match, so each
// case fails (or passes) on the rule it is about rather than on the digest.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/payload.h"
#include "pack/sha256.h"

namespace testpayload {

struct RawEntry {
    pack::EntryKind kind;
    std::string name;
    std::string content;  // bytes put into the data area
    // Size written to the table, any 64-bit value (one that wraps a sum around 2^64 too);
    // none: content.size().
    std::optional<uint64_t> declaredSize = std::nullopt;
};

inline RawEntry Folder(const std::string& name) { return {pack::EntryKind::Folder, name, ""}; }
inline RawEntry File(const std::string& name, const std::string& content)
{
    return {pack::EntryKind::File, name, content};
}

// Writes the digest of bytes [40, end) into the payload.
inline void Rehash(std::string* payload)
{
    pack::Sha256 hash;
    hash.Update(reinterpret_cast<const unsigned char*>(payload->data()) + pack::kHashedFrom,
                payload->size() - pack::kHashedFrom);
    unsigned char digest[pack::Sha256::kDigestSize];
    hash.Finish(digest);
    payload->replace(pack::kHashOffset, sizeof(digest), reinterpret_cast<const char*>(digest),
                     sizeof(digest));
}

inline std::string BuildPayload(const std::string& folder, const std::vector<RawEntry>& entries)
{
    std::string table, data;
    for (const RawEntry& e : entries) {
        const uint64_t size = e.declaredSize.value_or(e.content.size());
        pack::AppendEntry(&table, e.kind, e.name, size);
        data += e.content;
    }
    const unsigned char zeros[pack::Sha256::kDigestSize] = {};
    std::string payload =
        pack::EncodeHeader(folder, static_cast<uint32_t>(entries.size()),
                           static_cast<uint32_t>(table.size()), data.size(), zeros);
    payload += folder + table + data;
    Rehash(&payload);
    return payload;
}

inline const unsigned char* Bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Lower-case hex of bytes, the way digests are written down.
inline std::string Hex(const unsigned char* bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

}  // namespace testpayload

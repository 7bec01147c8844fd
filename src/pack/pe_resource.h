// Puts a resource section onto a prebuilt extractor image (rules::FindPeResource finds it
// again).
//
// The extractor is linked without resources; the packer appends one .rsrc section holding
// the manifest (RT_MANIFEST 1) and the payload (RT_RCDATA 1) and fixes the headers, so the
// extractor reaches its payload with FindResource and LockResource: mapped by the loader,
// never copied. The result stays an ordinary image that a signing tool signs like any other.
// Portable: bytes in, no platform call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "pack/pack_fault.h"

namespace pack {

// A 32-bit process maps the whole image; keep the payload well inside its address space.
constexpr uint64_t kMaxPayloadBytes = uint64_t{1} << 30;

// The package is head + directory + payload + tailPadding zeros: the pieces around the payload,
// so the payload itself can be streamed in between.
struct ResourcePlan {
    std::string head;        // the stub image with the new section header, zero-padded
    std::string directory;   // the resource tables and the manifest; the payload follows
    size_t tailPadding = 0;  // zeros after the payload, up to the file alignment
};

// Plans the package for a stub image, with the manifest (RT_MANIFEST 1), the package's record
// (RT_RCDATA 2, rules::kPackageRecordId) and the payload (RT_RCDATA 1). Refused when the stub is
// not a PE32 or PE32+ image we can extend: one with a resource directory or a certificate table
// already, COFF symbols or other bytes after its last section, or no room for one more section
// header; or when the payload is larger than kMaxPayloadBytes.
PackProblem PlanResourceSection(const unsigned char* stub, size_t length,
                                const std::string& manifest, const std::string& record,
                                uint64_t payloadBytes, ResourcePlan* out);

}  // namespace pack

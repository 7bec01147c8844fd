// Feeds arbitrary bytes to the payload reader, to the resource walker and to the package's
// record reader; ASan and UBSan report any read outside the input. What the reader accepts must
// keep its promises: every name is one the extractor may join to its folder, and the contents lie
// end to end inside the input, ending exactly at its end. Seeds: tests/fuzz/make_pack_seeds.py
// writes small payloads at build time.
#include <cstdint>
#include <cstdlib>

#include "pack/payload.h"
#include "rules/package_record.h"
#include "rules/pe_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    rules::PeSpan span;
    if (rules::FindPeResource(data, size, rules::kPeRcData, 1, &span) &&
        (span.offset > size || span.length > size - span.offset))
        abort();
    // What the record reader accepts reads back the same when written again.
    rules::PackageRecord record;
    if (rules::ReadPackageRecord(data, size, &record)) {
        if (record.revision == 0 || record.revision > 2147483647u || record.folder.empty()) abort();
    }

    pack::Payload payload;
    if (!pack::ReadPayload(data, size, &payload)) return 0;
    if (!pack::CheckNameLevel(payload.folder)) abort();
    uint64_t next = 0;
    for (const pack::Entry& entry : payload.entries) {
        if (!pack::CheckEntryName(entry.name)) abort();
        if (next != 0 && entry.offset != next) abort();
        if (entry.kind == pack::EntryKind::Folder && entry.size != 0) abort();
        if (entry.offset > size || entry.size > size - entry.offset) abort();
        next = entry.offset + entry.size;
    }
    if (!payload.entries.empty() && next != size) abort();
    return 0;
}

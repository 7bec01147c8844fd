// How Windows compares file names, for the portable code: one UTF-16 code unit at a time,
// each upper-cased by the system's simple table (what CompareStringOrdinal with ignore-case
// and NTFS do). No locale, no full case mapping ("ß" stays), nothing past the BMP.
#pragma once
#include <string>

namespace pack {

// The code unit as the system's upper-case table gives it.
char16_t UpcaseUnit(char16_t unit);

// The key under which Windows finds a name: valid UTF-8 in, its UTF-16 code units upper-cased.
// Two names with one key are one name on disk.
std::u16string NameKey(const std::string& utf8);

}  // namespace pack

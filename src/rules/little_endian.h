// Little-endian reads from bytes that came from outside: every read is checked against the
// length first, so a crafted offset fails the read instead of reaching past the buffer.
#pragma once
#include <cstddef>
#include <cstdint>

namespace rules {

namespace detail {

template <class Value>
bool ReadLe(const unsigned char* bytes, size_t length, uint64_t offset, Value* value)
{
    if (offset > length || length - offset < sizeof(Value)) return false;
    uint64_t result = 0;
    for (size_t i = sizeof(Value); i-- > 0;) result = (result << 8) | bytes[offset + i];
    *value = static_cast<Value>(result);
    return true;
}

}  // namespace detail

// False, and `value` untouched, when the value does not lie wholly inside `length` bytes.
inline bool ReadLe16(const unsigned char* bytes, size_t length, uint64_t offset, uint16_t* value)
{
    return detail::ReadLe(bytes, length, offset, value);
}

inline bool ReadLe32(const unsigned char* bytes, size_t length, uint64_t offset, uint32_t* value)
{
    return detail::ReadLe(bytes, length, offset, value);
}

inline bool ReadLe64(const unsigned char* bytes, size_t length, uint64_t offset, uint64_t* value)
{
    return detail::ReadLe(bytes, length, offset, value);
}

}  // namespace rules

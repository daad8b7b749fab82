// Numbers stored least significant byte first, whatever the CPU: the payload
// header's size, the ELF fields of a little-endian program, zstd's block
// headers.
#ifndef VORLAN_LITTLE_ENDIAN_H
#define VORLAN_LITTLE_ENDIAN_H

#include <stddef.h>
#include <stdint.h>

// The number in the first `width` bytes, at most 8.
inline uint64_t load_le(const unsigned char *bytes, size_t width)
{
    uint64_t value = 0;
    for (size_t i = width; i > 0; --i)
        value = (value << 8) | bytes[i - 1];
    return value;
}

// The low `width` bytes of value into the first `width` bytes.
inline void store_le(uint64_t value, unsigned char *bytes, size_t width)
{
    for (size_t i = 0; i < width; ++i, value >>= 8)
        bytes[i] = static_cast<unsigned char>(value);
}

#endif

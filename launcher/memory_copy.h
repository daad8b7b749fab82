// Copies for the static x86 launchers. musl's memcpy and memmove on x86 are
// "rep movs" with a byte loop around it: slow to start, which costs the xz
// decoder a third of its time, since it copies every match of a few bytes
// with memcpy. These copy up to 32 bytes with a few overlapping loads and
// stores, and longer blocks with "rep movsb", which CPUs since 2012 run at
// full speed (a loop of loads and stores ran --check on i386 4x slower).
#ifndef VORLAN_MEMORY_COPY_H
#define VORLAN_MEMORY_COPY_H

#include <stddef.h>
#include <stdint.h>

namespace memory_copy {

struct block16 {
    uint64_t low, high;
};

template <class T>
inline T load(const unsigned char *from)
{
    T value;
    __builtin_memcpy(&value, from, sizeof value);
    return value;
}

template <class T>
inline void store(unsigned char *to, T value)
{
    __builtin_memcpy(to, &value, sizeof value);
}

// Up to 32 bytes: every byte loaded before any is stored, so the areas may
// overlap either way.
inline void copy_small(unsigned char *to, const unsigned char *from, size_t size)
{
    if (size >= 16) {
        const block16 head = load<block16>(from), tail = load<block16>(from + size - 16);
        store(to, head);
        store(to + size - 16, tail);
    } else if (size >= 8) {
        const uint64_t head = load<uint64_t>(from), tail = load<uint64_t>(from + size - 8);
        store(to, head);
        store(to + size - 8, tail);
    } else if (size >= 4) {
        const uint32_t head = load<uint32_t>(from), tail = load<uint32_t>(from + size - 4);
        store(to, head);
        store(to + size - 4, tail);
    } else if (size > 0) {
        const unsigned char first = from[0], middle = from[size / 2], last = from[size - 1];
        to[0] = first;
        to[size / 2] = middle;
        to[size - 1] = last;
    }
}

// Over 32 bytes, from the start: right when to is below from or the areas
// do not overlap.
inline void copy_forward(unsigned char *to, const unsigned char *from, size_t size)
{
    asm volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(size) : : "memory");
}

// Over 32 bytes, from the end: right when to is above from.
[[gnu::optimize("no-tree-loop-distribute-patterns")]] inline void copy_backward(unsigned char *to,
                                                                               const unsigned char *from,
                                                                               size_t size)
{
    const block16 head = load<block16>(from);
    unsigned char *const head_at = to;
    for (; size > 16; size -= 16)
        store(to + size - 16, load<block16>(from + size - 16));
    store(head_at, head);
}

inline void *copy(void *to, const void *from, size_t size)
{
    auto *const t = static_cast<unsigned char *>(to);
    const auto *const f = static_cast<const unsigned char *>(from);
    if (size <= 32)
        copy_small(t, f, size);
    else
        copy_forward(t, f, size);
    return to;
}

inline void *move(void *to, const void *from, size_t size)
{
    auto *const t = static_cast<unsigned char *>(to);
    const auto *const f = static_cast<const unsigned char *>(from);
    if (size <= 32)
        copy_small(t, f, size);
    else if (t <= f || t >= f + size)
        copy_forward(t, f, size);
    else
        copy_backward(t, f, size);
    return to;
}

} // namespace memory_copy

#endif

// The static x86 launchers' memcpy and memmove, in place of musl's: see
// memory_copy.h. Both are defined, since musl's memmove shares an entry
// point with its memcpy.
#include "../memory_copy.h"

extern "C" void *memcpy(void *__restrict to, const void *__restrict from, size_t size)
{
    return memory_copy::copy(to, from, size);
}

extern "C" void *memmove(void *to, const void *from, size_t size)
{
    return memory_copy::move(to, from, size);
}

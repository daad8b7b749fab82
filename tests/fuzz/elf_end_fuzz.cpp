// Any bytes as the launcher's own file: the ELF end rule must find an end or
// fail, never read out of bounds or overflow.
#include "elf_end.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;  // fmemopen refuses an empty buffer
    FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (stream == nullptr)
        return 0;
    uint64_t end = 0;
    find_elf_end(stream, end);
    fclose(stream);
    return 0;
}

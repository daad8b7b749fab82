// Any bytes as an installer image: the ELF end, the payload behind it and
// the digest check of the rest must fail cleanly or pass.
#include "elf_end.h"
#include "payload.h"
#include "verify.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *stream = tmpfile();
    if (stream == nullptr || fwrite(data, 1, size, stream) != size || fflush(stream) != 0)
        __builtin_trap();
    uint64_t elf_end = 0;
    payload stored;
    if (find_elf_end(stream, elf_end) == 0 && read_payload(stream, elf_end, size, stored) == 0)
        verify_payload(stored);
    fclose(stream);
    return 0;
}

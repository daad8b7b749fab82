// Any bytes as an installer image: the ELF end, the payload header behind it
// and the digest check of the rest must fail cleanly or pass.
#include "digest.h"
#include "elf_end.h"
#include "payload.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (stream == nullptr)
        return 0;
    const int64_t elf_end = find_elf_end(stream);
    payload_header header;
    if (elf_end >= 0 && read_payload_header(stream, elf_end, header) == 0)
        verify_payload_digest(stream, static_cast<uint64_t>(elf_end) + PAYLOAD_HEADER_SIZE, header.digest);
    fclose(stream);
    return 0;
}

// Any bytes as a stored payload: the codec detection, the decoding copy and
// the size that zstd frames record must decode or refuse, never read out of
// bounds, overflow or allocate beyond the windows allowed.
#include "decode.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *const sink = fopen("/dev/null", "w");
    if (size == 0 || sink == nullptr)
        return 0;  // fmemopen refuses an empty buffer
    FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (stream == nullptr)
        return 0;
    payload_tar_size(stream, 0);
    rewind(stream);
    // A memory stream never fails a read, /dev/null never a write: the
    // bytes decoded or were refused.
    const blocks_end end = copy_payload(stream, sink);
    if (end != blocks_end::done && end != blocks_end::bad_data)
        __builtin_trap();
    fclose(stream);
    return 0;
}

// Any bytes as a stored payload: the codec detection, what the stream
// records of its sizes and memory, and the decoding copy must decode or
// refuse, never read out of bounds, overflow or allocate beyond the windows
// allowed.
#include "decode.h"
#include "decoding_needs.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *const sink = fopen("/dev/null", "w");
    if (sink == nullptr)
        return 0;
    // A file, as the image is: the inspection reads it by offset.
    FILE *stream = tmpfile();
    if (stream == nullptr || fwrite(data, 1, size, stream) != size || fflush(stream) != 0)
        __builtin_trap();
    inspect_stream(fileno(stream), 0, size);
    rewind(stream);
    // A temporary file never fails a read, /dev/null never a write: the
    // bytes decoded or were refused.
    const blocks_end end = copy_decoded(stream, detect_codec(data, size), sink);
    if (end != blocks_end::done && end != blocks_end::bad_data)
        __builtin_trap();
    fclose(stream);
    return 0;
}

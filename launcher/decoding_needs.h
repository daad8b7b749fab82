// What a stored payload needs before it is decoded: the room its tar takes
// on disk and the memory its decoder takes, as far as the stream records them.
#ifndef VORLAN_DECODING_NEEDS_H
#define VORLAN_DECODING_NEEDS_H

#include "decode.h"

#include <stdint.h>

struct decoding_needs {
    codec format = codec::none;
    // The tar's size: exact when size_exact, otherwise the least it can be
    // (0 when nothing tells it).
    uint64_t decoded_size = 0;
    bool size_exact = false;
    // The most that the decoder allocates for one frame, stream or member.
    uint64_t decoder_memory = 0;
};

// Reads what the stream from start to end records about itself, without
// moving fd's offset: the content sizes and windows of the zstd frames, the
// indexes and block headers of the xz streams. A gzip member records its size
// only modulo 2^32, and where it ends only in its compressed bits, so the
// members are inflated to their ends and their decoded bytes counted in 64
// bits. A frame or stream that does not parse ends the count where it stands.
decoding_needs inspect_stream(int fd, uint64_t start, uint64_t end);

#endif

// What a stored payload needs before it is decoded: the room its tar takes
// on disk and the memory its decoder takes, as far as the stream records them.
#ifndef VORLAN_DECODING_NEEDS_H
#define VORLAN_DECODING_NEEDS_H

#include "decode.h"

#include <stdint.h>

struct decoding_needs {
    codec format = codec::none;
    // The tar's size, or the least it can be (0 when nothing tells it):
    // size_recorded when the stream records it, exactly in its zstd frames
    // and xz indexes, as its last member's trailer in a gzip stream.
    uint64_t decoded_size = 0;
    bool size_recorded = false;
    // The most that the decoder allocates for one frame, stream or member.
    uint64_t decoder_memory = 0;
};

// Reads what the stream from start to end records about itself, without
// moving fd's offset and without decoding it: the content sizes and windows
// of the zstd frames, the indexes and block headers of the xz streams, the
// size in a gzip stream's last four bytes (its last member's, modulo 2^32).
// A frame or stream that does not parse ends the count where it stands.
decoding_needs inspect_stream(int fd, uint64_t start, uint64_t end);

#endif

// Compressed payloads: the codec that a payload's first bytes name, the
// decoding copy into tar's pipe, and the decoded size where a stream
// records it. A payload in none of these formats goes to tar as it is.
#ifndef VORLAN_DECODE_H
#define VORLAN_DECODE_H

#include "blocks.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

enum class codec { none, zstd, xz, gzip };

// Bytes that detect_codec needs to tell every codec apart.
constexpr size_t CODEC_MAGIC_SIZE = 6;

// The codec of a stream that starts with these bytes (all of them, or the
// first CODEC_MAGIC_SIZE).
codec detect_codec(const unsigned char *start, size_t size);

// The most memory a stream may ask for: the zstd window (2^27 bytes) and
// the xz decoder's memory (a 128 MiB dictionary and the coder's state).
constexpr int ZSTD_WINDOW_LOG_LIMIT = 27;
constexpr uint64_t XZ_MEMORY_LIMIT = 129 << 20;

// Copies the stream from its position to its end into `to`, decoded when
// the first bytes name a codec. A meter, when given, counts the stored
// bytes read; erasing it at the end is the caller's. A stream that does not
// decode (corrupt, cut short, followed by bytes that are no further frame,
// needing more memory than allowed) has been reported, naming the codec and
// the reason, with the meter erased first: bad_data.
blocks_end copy_payload(FILE *from, FILE *to, progress_meter *meter = nullptr);

// The size of the tar in the payload from offset to the end of the stream:
// the stored size for an uncompressed payload, the sum of the content sizes
// that zstd frames record; 0 when unknown (xz, gzip, a zstd frame without
// its size or that does not parse). Leaves the stream at no particular
// position.
uint64_t payload_tar_size(FILE *stream, uint64_t offset);

#endif

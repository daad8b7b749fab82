// The block loop every pass over a stream shares: the digest, the copy into
// tar's pipe and the copies into a new image.
#ifndef VORLAN_BLOCKS_H
#define VORLAN_BLOCKS_H

#include "interrupt.h"
#include "progress.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Reads and writes go in 4 KiB blocks; the larger stdio buffer behind each
// stream (STREAM_BUFFER_SIZE) turns them into far fewer system calls.
constexpr size_t BLOCK_SIZE = 4096;

// What a pass from offset to the end of the stream's file will see, for its
// meter; 0 (no meter) when unknown.
uint64_t bytes_after(FILE *stream, uint64_t offset);

// bad_data: the bytes read meant nothing to their user, who said why.
enum class blocks_end { done, read_failed, use_failed, bad_data };

// Hands every block from the stream's position to its end to use(block, size),
// which returns false to stop. An interrupt noted meanwhile (while tar is
// fed) stops the pass the same way; the caller asks interrupt_noted().
template <typename Use>
blocks_end for_each_block(FILE *from, Use use)
{
    unsigned char block[BLOCK_SIZE];
    for (;;) {
        const size_t got = fread(block, 1, BLOCK_SIZE, from);
        if (got < BLOCK_SIZE && ferror(from))
            return blocks_end::read_failed;
        if (got > 0 && (interrupt_noted() || !use(block, got)))
            return blocks_end::use_failed;
        if (got < BLOCK_SIZE)
            return blocks_end::done;
    }
}

// Copies from the stream's position to its end; use_failed is a failed write.
// A meter, when given, follows the copy; erasing it is the caller's.
inline blocks_end copy_stream(FILE *from, FILE *to, progress_meter *meter = nullptr)
{
    return for_each_block(from, [to, meter](const unsigned char *block, size_t size) {
        if (fwrite(block, 1, size, to) != size)
            return false;
        if (meter != nullptr)
            meter->advance(size);
        return true;
    });
}

#endif

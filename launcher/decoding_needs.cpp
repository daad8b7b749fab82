#include "decoding_needs.h"

#include "little_endian.h"
#include "owned.h"

#include <unistd.h>

#include <errno.h>

#include <lzma.h>
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader and the decoder's size for a window
#include <zstd.h>

namespace {

// The stored bytes at `at`, as many of `size` as the file holds there.
size_t read_at(int fd, uint64_t at, unsigned char *buffer, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t read_now = pread(fd, buffer + got, size - got, static_cast<off_t>(at + got));
        if (read_now < 0 && errno == EINTR)
            continue;
        if (read_now <= 0)
            break;
        got += static_cast<size_t>(read_now);
    }
    return got;
}

// A size that the stream does not record: what has been counted is the least
// the tar can be.
decoding_needs unrecorded(decoding_needs needs)
{
    needs.size_recorded = false;
    return needs;
}

// Adds a recorded size; false when the sum would wrap, which no file reaches.
bool add_size(decoding_needs &needs, uint64_t size)
{
    if (needs.decoded_size + size < needs.decoded_size)
        return false;
    needs.decoded_size += size;
    return true;
}

void need_memory(decoding_needs &needs, uint64_t memory)
{
    if (memory > needs.decoder_memory)
        needs.decoder_memory = memory;
}

// Where the frame's blocks end, after walking their 3-byte headers from
// `at` to the last block; 0 when they do not parse within `end`.
uint64_t zstd_blocks_end(int fd, uint64_t at, uint64_t end)
{
    constexpr size_t BLOCK_HEADER_SIZE = 3;
    constexpr uint64_t RLE_BLOCK = 1;
    constexpr uint64_t RESERVED_BLOCK = 3;
    for (;;) {
        unsigned char field[BLOCK_HEADER_SIZE];
        if (at + BLOCK_HEADER_SIZE > end || read_at(fd, at, field, sizeof field) != sizeof field)
            return 0;
        const uint64_t block = load_le(field, sizeof field);
        const uint64_t type = (block >> 1) & 3;
        if (type == RESERVED_BLOCK)
            return 0;
        at += BLOCK_HEADER_SIZE + (type == RLE_BLOCK ? 1 : block >> 3);
        if ((block & 1) != 0)
            return at;
    }
}

// Every frame's header records its window; most record their content size.
decoding_needs zstd_needs(int fd, uint64_t at, uint64_t end)
{
    constexpr uint64_t CHECKSUM_SIZE = 4;
    decoding_needs needs;
    needs.format = codec::zstd;
    needs.size_recorded = true;
    while (at < end) {
        unsigned char field[ZSTD_FRAMEHEADERSIZE_MAX];
        const size_t got = read_at(fd, at, field, sizeof field);
        ZSTD_frameHeader frame;
        if (ZSTD_getFrameHeader(&frame, field, got) != 0)
            return unrecorded(needs);
        if (frame.frameType == ZSTD_skippableFrame) {
            // Its header size is left 0: the magic number and the length.
            at += ZSTD_SKIPPABLEHEADERSIZE + frame.frameContentSize;
            continue;
        }
        const size_t window = frame.windowSize > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(frame.windowSize);
        need_memory(needs, ZSTD_estimateDStreamSize(window));
        if (frame.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN)
            needs.size_recorded = false;
        else if (!add_size(needs, frame.frameContentSize))
            return unrecorded(needs);
        at = zstd_blocks_end(fd, at + frame.headerSize, end);
        if (at == 0)
            return unrecorded(needs);
        if (frame.checksumFlag != 0)
            at += CHECKSUM_SIZE;
    }
    return at == end ? needs : unrecorded(needs);
}

struct index_deleter {
    void operator()(lzma_index *index) const { lzma_index_end(index, nullptr); }
};
using xz_index = owned<lzma_index, index_deleter>;

struct lzma_guard {
    lzma_stream stream = LZMA_STREAM_INIT;
    ~lzma_guard() { lzma_end(&stream); }
};

// An index far larger than any installer's (millions of blocks) is not read.
constexpr uint64_t INDEX_MEMORY_LIMIT = 64 << 20;

// The index of `size` bytes at `at`; null when it does not decode.
xz_index read_xz_index(int fd, uint64_t at, uint64_t size)
{
    lzma_guard guard;
    lzma_index *index = nullptr;
    if (lzma_index_decoder(&guard.stream, &index, INDEX_MEMORY_LIMIT) != LZMA_OK)
        return nullptr;
    unsigned char chunk[4096];
    for (uint64_t done = 0; done < size;) {
        const size_t want = size - done < sizeof chunk ? static_cast<size_t>(size - done) : sizeof chunk;
        if (read_at(fd, at + done, chunk, want) != want)
            return nullptr;
        done += want;
        guard.stream.next_in = chunk;
        guard.stream.avail_in = want;
        const lzma_ret result = lzma_code(&guard.stream, LZMA_RUN);
        if (result == LZMA_STREAM_END)
            return done == size ? xz_index(index) : nullptr;
        if (result != LZMA_OK)
            return nullptr;
    }
    return nullptr;
}

// The memory of the block's decoder, from the filters its header names; 0
// when the header does not parse (the decoder then says why).
uint64_t xz_block_memory(int fd, uint64_t at, lzma_check check)
{
    unsigned char header[LZMA_BLOCK_HEADER_SIZE_MAX];
    if (read_at(fd, at, header, 1) != 1 || header[0] == 0)
        return 0;
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    lzma_block block = {};
    block.version = 1;
    block.check = check;
    block.filters = filters;
    block.header_size = lzma_block_header_size_decode(header[0]);
    if (read_at(fd, at + 1, header + 1, block.header_size - 1) != block.header_size - 1
        || lzma_block_header_decode(&block, nullptr, header) != LZMA_OK)
        return 0;
    const uint64_t memory = lzma_raw_decoder_memusage(filters);
    lzma_filters_free(filters, nullptr);
    return memory == UINT64_MAX ? 0 : memory;
}

// The streams from the last to the first: each footer gives its index's size,
// the index the stream's size, its decoded size and its blocks.
decoding_needs xz_needs(int fd, uint64_t start, uint64_t end)
{
    decoding_needs needs;
    needs.format = codec::xz;
    needs.size_recorded = true;
    uint64_t at = end;
    while (at > start) {
        unsigned char field[LZMA_STREAM_HEADER_SIZE];
        // Stream padding: zero bytes in groups of four.
        if (at - start < 2 * LZMA_STREAM_HEADER_SIZE || read_at(fd, at - 4, field, 4) != 4)
            return unrecorded(needs);
        if (load_le(field, 4) == 0) {
            at -= 4;
            continue;
        }
        lzma_stream_flags footer;
        if (read_at(fd, at - sizeof field, field, sizeof field) != sizeof field
            || lzma_stream_footer_decode(&footer, field) != LZMA_OK
            || at - start < 2 * LZMA_STREAM_HEADER_SIZE + footer.backward_size)
            return unrecorded(needs);
        const xz_index index = read_xz_index(fd, at - sizeof field - footer.backward_size, footer.backward_size);
        if (index == nullptr)
            return unrecorded(needs);
        const uint64_t stream_size = lzma_index_stream_size(index.get());
        lzma_stream_flags header;
        if (stream_size > at - start || read_at(fd, at - stream_size, field, sizeof field) != sizeof field
            || lzma_stream_header_decode(&header, field) != LZMA_OK
            || lzma_stream_flags_compare(&header, &footer) != LZMA_OK
            || !add_size(needs, lzma_index_uncompressed_size(index.get())))
            return unrecorded(needs);
        at -= stream_size;
        lzma_index_iter block;
        lzma_index_iter_init(&block, index.get());
        while (!lzma_index_iter_next(&block, LZMA_INDEX_ITER_NONEMPTY_BLOCK))
            need_memory(needs, xz_block_memory(fd, at + block.block.compressed_stream_offset, header.check));
    }
    return needs;
}

// A gzip member records its decoded size modulo 2^32 in the last four bytes
// of its trailer, and where it ends only in its compressed bits: the stream's
// last four bytes, as gzip -l reads them, are the last member's size, which
// the builder's single member under 4 GiB makes the tar's. Earlier members'
// trailers are found only by inflating the whole stream, once more than the
// extraction does: they and what a member over 4 GiB wraps go uncounted.
decoding_needs gzip_needs(int fd, uint64_t start, uint64_t end)
{
    constexpr uint64_t HEADER_SIZE = 10;
    constexpr size_t ISIZE_SIZE = 4;
    constexpr uint64_t TRAILER_SIZE = 8;
    decoding_needs needs;
    needs.format = codec::gzip;
    unsigned char field[ISIZE_SIZE];
    if (end - start < HEADER_SIZE + TRAILER_SIZE || read_at(fd, end - ISIZE_SIZE, field, sizeof field) != sizeof field)
        return needs;
    needs.decoded_size = load_le(field, sizeof field);
    needs.size_recorded = true;
    return needs;
}

} // namespace

decoding_needs inspect_stream(int fd, uint64_t start, uint64_t end)
{
    unsigned char magic[CODEC_MAGIC_SIZE] = {};
    const size_t got = start < end ? read_at(fd, start, magic, sizeof magic) : 0;
    switch (detect_codec(magic, got)) {
    case codec::zstd:
        return zstd_needs(fd, start, end);
    case codec::xz:
        return xz_needs(fd, start, end);
    case codec::gzip:
        return gzip_needs(fd, start, end);
    case codec::none:
        break;
    }
    decoding_needs needs;
    needs.decoded_size = end - start;
    needs.size_recorded = true;
    return needs;
}

#include "decode.h"

#include "interrupt.h"
#include "little_endian.h"
#include "owned.h"
#include "progress.h"
#include "report.h"

#include <string.h>

#include <lzma.h>
#include <zlib.h>
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader, for the sizes that frames record
#include <zstd.h>
#include <zstd_errors.h>

namespace {

// Stored bytes come in and decoded bytes go out in chunks of the size of a
// zstd block, so that each call of a decoder has room for a whole block.
constexpr size_t CHUNK_SIZE = 128 * 1024;
unsigned char in_chunk[CHUNK_SIZE];
unsigned char out_chunk[CHUNK_SIZE];

constexpr char CUT_SHORT[] = "the stream is cut short";
constexpr char TRAILING_BYTES[] = "unexpected bytes after the end of the stream";
constexpr char NO_MEMORY[] = "out of memory";

// The one message of a stream that does not decode; the meter goes first.
blocks_end refuse(progress_meter *meter, const char *codec_name, const char *reason)
{
    if (meter != nullptr)
        meter->erase();
    report("Decompression error (%s): %s\n", codec_name, reason);
    return blocks_end::bad_data;
}

// Reads up to `limit` stored bytes into in_chunk; false after a failed read
// or once an interrupt has been noted (the caller asks which), a size of 0 at
// the end of the stream.
bool read_chunk(FILE *from, progress_meter *meter, size_t &size, size_t limit = CHUNK_SIZE)
{
    if (interrupt_noted())
        return false;
    size = fread(in_chunk, 1, limit, from);
    if (size < limit && ferror(from))
        return false;
    if (meter != nullptr)
        meter->advance(size);
    return true;
}

bool write_out(FILE *to, size_t size)
{
    return size == 0 || fwrite(out_chunk, 1, size, to) == size;
}

// zstd: consecutive frames, skippable ones among them, decode as one stream;
// each call returns 0 where a frame has ended and been written out whole.
struct zstd_context_deleter {
    void operator()(ZSTD_DCtx *context) const { ZSTD_freeDCtx(context); }
};

const char *zstd_failure(size_t code, bool frame_ended)
{
    switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_frameParameter_windowTooLarge:
        return "the stream needs a window of more than 128 MiB";
    case ZSTD_error_prefix_unknown:
        return frame_ended ? TRAILING_BYTES : ZSTD_getErrorName(code);
    default:
        return ZSTD_getErrorName(code);
    }
}

blocks_end decode_zstd(size_t size, FILE *from, FILE *to, progress_meter *meter)
{
    const owned<ZSTD_DCtx, zstd_context_deleter> context(ZSTD_createDCtx());
    if (context == nullptr
        || ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, ZSTD_WINDOW_LOG_LIMIT)))
        return refuse(meter, "zstd", NO_MEMORY);
    size_t hint = 1;
    bool frame_ended = false;
    size_t frame_bytes = 0;  // taken since the last frame ended
    while (size > 0) {
        ZSTD_inBuffer in = {in_chunk, size, 0};
        ZSTD_outBuffer out;
        do {
            out = {out_chunk, CHUNK_SIZE, 0};
            const size_t taken = in.pos;
            hint = ZSTD_decompressStream(context.get(), &out, &in);
            if (ZSTD_isError(hint))
                return refuse(meter, "zstd", zstd_failure(hint, frame_ended));
            frame_bytes = hint == 0 ? 0 : frame_bytes + in.pos - taken;
            frame_ended = frame_ended || hint == 0;
            if (!write_out(to, out.pos))
                return blocks_end::use_failed;
        } while (in.pos < in.size || out.pos == out.size);
        if (!read_chunk(from, meter, size))
            return blocks_end::read_failed;
    }
    if (hint == 0)
        return blocks_end::done;
    // Fewer bytes than a frame's magic number are no frame at all.
    return refuse(meter, "zstd", frame_ended && frame_bytes < 4 ? TRAILING_BYTES : CUT_SHORT);
}

// xz: one decoder per stream; between streams only stream padding, zero
// bytes in groups of four, may come.
struct lzma_guard {
    lzma_stream stream = LZMA_STREAM_INIT;
    ~lzma_guard() { lzma_end(&stream); }
};

// A stream after the first that fails in its header is no stream at all.
const char *xz_failure(lzma_ret code, const lzma_stream &stream, bool later_stream)
{
    if (later_stream && stream.total_in <= LZMA_STREAM_HEADER_SIZE)
        return TRAILING_BYTES;
    switch (code) {
    case LZMA_MEM_ERROR:
        return NO_MEMORY;
    case LZMA_MEMLIMIT_ERROR:
        return "the stream needs more than 129 MiB of memory (a dictionary over 128 MiB)";
    case LZMA_FORMAT_ERROR:
        return "not in the xz format";
    case LZMA_OPTIONS_ERROR:
        return "unsupported options";
    case LZMA_BUF_ERROR:
        return CUT_SHORT;
    default:
        return "corrupt data";
    }
}

// Skips stream padding; true when a new stream starts in the input.
bool skip_padding(lzma_stream &stream, uint64_t &padding)
{
    while (stream.avail_in > 0 && *stream.next_in == 0) {
        ++stream.next_in;
        --stream.avail_in;
        ++padding;
    }
    return stream.avail_in > 0;
}

blocks_end decode_xz(size_t size, FILE *from, FILE *to, progress_meter *meter)
{
    lzma_guard guard;
    lzma_stream &stream = guard.stream;
    if (lzma_stream_decoder(&stream, XZ_MEMORY_LIMIT, 0) != LZMA_OK)
        return refuse(meter, "xz", NO_MEMORY);
    bool between_streams = false;
    bool later_stream = false;
    uint64_t padding = 0;
    for (;;) {
        stream.next_in = in_chunk;
        stream.avail_in = size;
        const lzma_action action = size == 0 ? LZMA_FINISH : LZMA_RUN;
        lzma_ret result = LZMA_OK;
        do {
            if (between_streams) {
                if (!skip_padding(stream, padding))
                    break;
                if (padding % 4 != 0)
                    return refuse(meter, "xz", TRAILING_BYTES);
                if (lzma_stream_decoder(&stream, XZ_MEMORY_LIMIT, 0) != LZMA_OK)
                    return refuse(meter, "xz", NO_MEMORY);
                between_streams = false;
                later_stream = true;
            }
            stream.next_out = out_chunk;
            stream.avail_out = CHUNK_SIZE;
            result = lzma_code(&stream, action);
            if (result != LZMA_OK && result != LZMA_STREAM_END)
                return refuse(meter, "xz", xz_failure(result, stream, later_stream));
            if (!write_out(to, CHUNK_SIZE - stream.avail_out))
                return blocks_end::use_failed;
            if (result == LZMA_STREAM_END) {
                between_streams = true;
                padding = 0;
            }
            // At the end a stream still going is called until it ends or
            // says that it is cut short.
        } while (stream.avail_in > 0 || stream.avail_out == 0 || (action == LZMA_FINISH && !between_streams));
        if (action == LZMA_FINISH)
            return padding % 4 == 0 ? blocks_end::done : refuse(meter, "xz", TRAILING_BYTES);
        if (!read_chunk(from, meter, size))
            return blocks_end::read_failed;
    }
}

// gzip: consecutive members decode as one stream. After the first member,
// a header that does not parse (done stays 0, or -1 for no gzip header at
// all) is bytes after the stream.
struct inflate_guard {
    z_stream stream = {};
    bool open = false;
    ~inflate_guard()
    {
        if (open)
            inflateEnd(&stream);
    }
};

blocks_end decode_gzip(size_t size, FILE *from, FILE *to, progress_meter *meter)
{
    inflate_guard guard;
    z_stream &stream = guard.stream;
    gz_header header = {};
    // 16 + the largest window: gzip members only, no zlib or raw streams.
    guard.open = inflateInit2(&stream, 16 + MAX_WBITS) == Z_OK;
    if (!guard.open || inflateGetHeader(&stream, &header) != Z_OK)
        return refuse(meter, "gzip", NO_MEMORY);
    bool member_ended = false;
    bool later_member = false;
    while (size > 0) {
        stream.next_in = in_chunk;
        stream.avail_in = static_cast<uInt>(size);
        do {
            if (member_ended) {
                if (stream.avail_in == 0)
                    break;
                inflateReset(&stream);
                inflateGetHeader(&stream, &header);
                member_ended = false;
                later_member = true;
            }
            stream.next_out = out_chunk;
            stream.avail_out = CHUNK_SIZE;
            const int result = inflate(&stream, Z_NO_FLUSH);
            if (result == Z_MEM_ERROR)
                return refuse(meter, "gzip", NO_MEMORY);
            if (result == Z_DATA_ERROR)
                return refuse(meter, "gzip",
                              later_member && header.done != 1 ? TRAILING_BYTES
                              : stream.msg != nullptr ? stream.msg : "corrupt data");
            if (!write_out(to, CHUNK_SIZE - stream.avail_out))
                return blocks_end::use_failed;
            member_ended = result == Z_STREAM_END;
        } while (stream.avail_in > 0 || stream.avail_out == 0);
        if (!read_chunk(from, meter, size))
            return blocks_end::read_failed;
    }
    if (member_ended)
        return blocks_end::done;
    return refuse(meter, "gzip", later_member && header.done != 1 ? TRAILING_BYTES : CUT_SHORT);
}

bool starts_with(const unsigned char *start, size_t size, const char *magic, size_t magic_size)
{
    return size >= magic_size && memcmp(start, magic, magic_size) == 0;
}

// Where the frame's blocks end, after walking their 3-byte headers from
// `at` to the last block; 0 when they do not parse within `end`.
uint64_t zstd_blocks_end(FILE *stream, uint64_t at, uint64_t end)
{
    constexpr size_t BLOCK_HEADER_SIZE = 3;
    constexpr uint64_t RLE_BLOCK = 1;
    constexpr uint64_t RESERVED_BLOCK = 3;
    for (;;) {
        unsigned char field[BLOCK_HEADER_SIZE];
        if (at + BLOCK_HEADER_SIZE > end || fseeko(stream, static_cast<off_t>(at), SEEK_SET) != 0
            || fread(field, 1, sizeof field, stream) != sizeof field)
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

// The sum of the content sizes of the zstd frames from `at` to `end`; 0
// when a frame does not record its size or does not parse.
uint64_t zstd_content_size(FILE *stream, uint64_t at, uint64_t end)
{
    constexpr uint64_t CHECKSUM_SIZE = 4;
    uint64_t total = 0;
    while (at < end) {
        unsigned char field[ZSTD_FRAMEHEADERSIZE_MAX];
        if (fseeko(stream, static_cast<off_t>(at), SEEK_SET) != 0)
            return 0;
        const size_t got = fread(field, 1, sizeof field, stream);
        ZSTD_frameHeader frame;
        if (ZSTD_getFrameHeader(&frame, field, got) != 0)
            return 0;
        if (frame.frameType == ZSTD_skippableFrame) {
            // Its header size is left 0: the magic number and the length.
            at += ZSTD_SKIPPABLEHEADERSIZE + frame.frameContentSize;
            continue;
        }
        if (frame.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN || total + frame.frameContentSize < total)
            return 0;
        total += frame.frameContentSize;
        at = zstd_blocks_end(stream, at + frame.headerSize, end);
        if (at == 0)
            return 0;
        if (frame.checksumFlag != 0)
            at += CHECKSUM_SIZE;
    }
    return at == end ? total : 0;
}

} // namespace

codec detect_codec(const unsigned char *start, size_t size)
{
    if (starts_with(start, size, "\x28\xB5\x2F\xFD", 4))
        return codec::zstd;
    // A skippable frame, which some parallel compressors write first.
    if (size >= 4 && (start[0] & 0xF0) == 0x50 && starts_with(start + 1, size - 1, "\x2A\x4D\x18", 3))
        return codec::zstd;
    if (starts_with(start, size, "\xFD" "7zXZ\0", CODEC_MAGIC_SIZE))
        return codec::xz;
    if (starts_with(start, size, "\x1F\x8B", 2))
        return codec::gzip;
    return codec::none;
}

blocks_end copy_payload(FILE *from, FILE *to, progress_meter *meter)
{
    // The first block, as the plain copy would read it.
    size_t size = 0;
    if (!read_chunk(from, meter, size, BLOCK_SIZE))
        return blocks_end::read_failed;
    switch (detect_codec(in_chunk, size)) {
    case codec::zstd:
        return decode_zstd(size, from, to, meter);
    case codec::xz:
        return decode_xz(size, from, to, meter);
    case codec::gzip:
        return decode_gzip(size, from, to, meter);
    case codec::none:
        break;
    }
    if (size > 0 && fwrite(in_chunk, 1, size, to) != size)
        return blocks_end::use_failed;
    return size < BLOCK_SIZE ? blocks_end::done : copy_stream(from, to, meter);
}

uint64_t payload_tar_size(FILE *stream, uint64_t offset)
{
    if (fseeko(stream, 0, SEEK_END) != 0)
        return 0;
    const off_t end = ftello(stream);
    unsigned char start[CODEC_MAGIC_SIZE];
    if (end < 0 || static_cast<uint64_t>(end) < offset || fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0)
        return 0;
    const size_t got = fread(start, 1, sizeof start, stream);
    switch (detect_codec(start, got)) {
    case codec::none:
        return static_cast<uint64_t>(end) - offset;
    case codec::zstd:
        return zstd_content_size(stream, offset, static_cast<uint64_t>(end));
    case codec::xz:
    case codec::gzip:
        break;
    }
    return 0;
}

// Payloads for the units that decode or inspect them: sample data and the
// three codecs' streams of it, as their programs write them.
#ifndef VORLAN_COMPRESSED_SAMPLES_H
#define VORLAN_COMPRESSED_SAMPLES_H

#include <gtest/gtest.h>

#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <string>

namespace {

using bytes = std::string;

// Compressible lines, then bytes that do not compress: more than one chunk
// of the decoder's input and of its output whatever the codec.
inline bytes sample(size_t lines = 15000, size_t noise = 300000)
{
    bytes data;
    char line[64];
    for (size_t i = 0; i < lines; ++i)
        data.append(line, static_cast<size_t>(snprintf(line, sizeof line, "line %zu of the sample\n", i)));
    uint32_t state = 12345;
    for (size_t i = 0; i < noise; ++i) {
        state = state * 1103515245 + 12345;
        data += static_cast<char>(state >> 24);
    }
    return data;
}

// With its checksum and content size, as the zstd program writes a frame.
inline bytes zstd_of(const bytes &data)
{
    ZSTD_CCtx *context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    bytes out(ZSTD_compressBound(data.size()), '\0');
    const size_t size = ZSTD_compress2(context, out.data(), out.size(), data.data(), data.size());
    ZSTD_freeCCtx(context);
    EXPECT_FALSE(ZSTD_isError(size));
    out.resize(size);
    return out;
}

inline bytes xz_of(const bytes &data)
{
    bytes out(lzma_stream_buffer_bound(data.size()), '\0');
    size_t size = 0;
    EXPECT_EQ(lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t *>(data.data()),
                                      data.size(), reinterpret_cast<uint8_t *>(out.data()), &size, out.size()),
              LZMA_OK);
    out.resize(size);
    return out;
}

inline bytes gzip_of(const bytes &data)
{
    z_stream stream = {};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    bytes out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A zstd frame header declaring a window of 2^log bytes and no content
// size, then one empty last raw block.
inline bytes zstd_window_frame(int log)
{
    return bytes("\x28\xB5\x2F\xFD\x00", 5) + static_cast<char>((log - 10) << 3) + bytes("\x01\x00\x00", 3);
}

// The single-block stream with its block header declaring another LZMA2
// dictionary size; the data decodes the same with any larger one.
inline bytes xz_with_dictionary(bytes stream, uint32_t dictionary_size)
{
    uint8_t *header = reinterpret_cast<uint8_t *>(&stream[LZMA_STREAM_HEADER_SIZE]);
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    lzma_block block = {};
    block.check = LZMA_CHECK_CRC64;
    block.filters = filters;
    block.header_size = lzma_block_header_size_decode(header[0]);
    EXPECT_EQ(lzma_block_header_decode(&block, nullptr, header), LZMA_OK);
    static_cast<lzma_options_lzma *>(filters[0].options)->dict_size = dictionary_size;
    EXPECT_EQ(lzma_block_header_encode(&block, header), LZMA_OK);
    lzma_filters_free(filters, nullptr);
    return stream;
}

} // namespace

#endif

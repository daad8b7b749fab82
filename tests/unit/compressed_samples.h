// Payloads for the units that decode or inspect them: sample data and the
// three codecs' streams of it, as their programs write them.
#ifndef VORLAN_COMPRESSED_SAMPLES_H
#define VORLAN_COMPRESSED_SAMPLES_H

#include <gtest/gtest.h>

#include <lzma.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

// The codec's own program compressing data from a file, as the builder
// runs it: the decoders are all the launcher has of the libraries.
inline bytes compressed(const char *command, const bytes &data)
{
    char name[] = "/tmp/compressed_samples.XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);
    const std::string line = std::string(command) + " " + name;
    FILE *pipe = popen(line.c_str(), "r");
    bytes out;
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << line;
    unlink(name);
    return out;
}

// With its checksum and content size, as the zstd program writes a frame.
inline bytes zstd_of(const bytes &data)
{
    return compressed("zstd -q -3 -c --", data);
}

inline bytes xz_of(const bytes &data)
{
    return compressed("xz -1 -c --check=crc64 --", data);
}

inline bytes gzip_of(const bytes &data)
{
    return compressed("gzip -6 -n -c --", data);
}

// A zstd frame header declaring a window of 2^log bytes and no content
// size, then one empty last raw block.
inline bytes zstd_window_frame(int log)
{
    return bytes("\x28\xB5\x2F\xFD\x00", 5) + static_cast<char>((log - 10) << 3) + bytes("\x01\x00\x00", 3);
}

// The single-block stream with its block header declaring another LZMA2
// dictionary, by the filter's property byte: 2^(n/2 + 12) bytes for an even
// n (28: 64 MiB, 30: 128 MiB), 3 * 2^(n/2 + 11) for an odd one (31: 192 MiB).
// The data decodes the same with any larger dictionary.
inline bytes xz_with_dictionary(bytes stream, unsigned char dictionary_byte)
{
    unsigned char *header = reinterpret_cast<unsigned char *>(&stream[LZMA_STREAM_HEADER_SIZE]);
    const size_t header_size = (static_cast<size_t>(header[0]) + 1) * 4;
    size_t at = 2;
    // The compressed and uncompressed sizes, where the flags say they are stored.
    for (const int present : {0x40, 0x80})
        if ((header[1] & present) != 0)
            while ((header[at++] & 0x80) != 0) {
            }
    EXPECT_EQ(header[at], LZMA_FILTER_LZMA2);
    EXPECT_EQ(header[at + 1], 1);
    header[at + 2] = dictionary_byte;
    const uint32_t crc = lzma_crc32(header, header_size - 4, 0);
    for (size_t i = 0; i < 4; ++i)
        header[header_size - 4 + i] = static_cast<unsigned char>(crc >> (8 * i));
    return stream;
}

} // namespace

#endif

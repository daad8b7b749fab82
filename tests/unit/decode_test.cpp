#include "decode.h"

#include "captured_reports.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using bytes = std::string;

// Compressible lines, then bytes that do not compress: more than one chunk
// of the decoder's input and of its output whatever the codec.
bytes sample(size_t lines = 15000, size_t noise = 300000)
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
bytes compressed(const char *command, const bytes &data)
{
    char name[] = "/tmp/decode_test.XXXXXX";
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
bytes zstd_of(const bytes &data)
{
    return compressed("zstd -q -3 -c --", data);
}

bytes xz_of(const bytes &data)
{
    return compressed("xz -1 -c --check=crc64 --", data);
}

bytes gzip_of(const bytes &data)
{
    return compressed("gzip -6 -n -c --", data);
}

FILE *stream_of(const bytes &data)
{
    FILE *stream = tmpfile();
    EXPECT_EQ(fwrite(data.data(), 1, data.size(), stream), data.size());
    rewind(stream);
    return stream;
}

struct copied {
    blocks_end end;
    bytes out;
    bytes reports;
};

// copy_payload from a file holding `stored` into a memory stream.
copied copy_of(const bytes &stored)
{
    FILE *from = stream_of(stored);
    char *buffer = nullptr;
    size_t size = 0;
    FILE *to = open_memstream(&buffer, &size);
    captured_reports reports;
    const blocks_end end = copy_payload(from, to);
    fclose(to);
    copied result = {end, bytes(buffer, size), reports.text()};
    free(buffer);
    fclose(from);
    return result;
}

std::string refusal(const char *codec_name, const char *reason)
{
    return std::string("Decompression error (") + codec_name + "): " + reason + "\n";
}

struct codec_case {
    const char *name;
    bytes (*compress)(const bytes &);
};

const codec_case CODECS[] = {{"zstd", zstd_of}, {"xz", xz_of}, {"gzip", gzip_of}};

// A zstd frame header declaring a window of 2^log bytes and no content
// size, then one empty last raw block.
bytes zstd_window_frame(int log)
{
    return bytes("\x28\xB5\x2F\xFD\x00", 5) + static_cast<char>((log - 10) << 3) + bytes("\x01\x00\x00", 3);
}

} // namespace

TEST(DetectCodec, MagicNumbers)
{
    auto detect = [](const bytes &start) {
        return detect_codec(reinterpret_cast<const unsigned char *>(start.data()), start.size());
    };
    EXPECT_EQ(detect(bytes("\x28\xB5\x2F\xFD", 4)), codec::zstd);
    EXPECT_EQ(detect(bytes("\x50\x2A\x4D\x18", 4)), codec::zstd);
    EXPECT_EQ(detect(bytes("\x5F\x2A\x4D\x18", 4)), codec::zstd);
    EXPECT_EQ(detect(bytes("\xFD" "7zXZ\0", 6)), codec::xz);
    EXPECT_EQ(detect(bytes("\x1F\x8B", 2)), codec::gzip);
    // Near misses and short starts are payloads for tar.
    EXPECT_EQ(detect(bytes("\x28\xB5\x2F", 3)), codec::none);
    EXPECT_EQ(detect(bytes("\x60\x2A\x4D\x18", 4)), codec::none);
    EXPECT_EQ(detect(bytes("\x4F\x2A\x4D\x18", 4)), codec::none);
    EXPECT_EQ(detect(bytes("\xFD" "7zXZ\1", 6)), codec::none);
    EXPECT_EQ(detect(bytes("\xFD" "7zXZ", 5)), codec::none);
    EXPECT_EQ(detect(bytes("\x1F", 1)), codec::none);
    EXPECT_EQ(detect(bytes("./install.sh")), codec::none);
    EXPECT_EQ(detect(bytes()), codec::none);
}

TEST(CopyPayload, PlainBytesPassUnchanged)
{
    for (size_t length : {0, 1, 4095, 4096, 4097, 300000}) {
        const bytes data = sample(0, length);
        const copied result = copy_of(data);
        EXPECT_EQ(result.end, blocks_end::done) << length;
        EXPECT_TRUE(result.out == data) << length;
        EXPECT_EQ(result.reports, "") << length;
    }
}

TEST(CopyPayload, XzStreamPaddingIsFourZeroBytes)
{
    const bytes stream = xz_of("padded");
    EXPECT_EQ(copy_of(stream + bytes(8, '\0') + stream).out, "paddedpadded");
    const copied odd = copy_of(stream + bytes(3, '\0'));
    EXPECT_EQ(odd.end, blocks_end::bad_data);
    EXPECT_EQ(odd.reports, refusal("xz", "unexpected bytes after the end of the stream"));
}

// Text after a stream is the end-to-end tests'; these are the tails that
// could pass for the start of another frame, stream or member.
TEST(CopyPayload, BytesAfterTheStreamAreRefused)
{
    const bytes data = sample(100, 0);
    for (const codec_case &c : CODECS) {
        // The start of a zstd magic number and no more; zeros (xz padding) and more.
        for (const bytes &tail : {bytes("\x28\xB5"), bytes(4, '\0') + "x"}) {
            const copied result = copy_of(c.compress(data) + tail);
            EXPECT_EQ(result.end, blocks_end::bad_data) << c.name << " " << tail.size();
            EXPECT_EQ(result.reports, refusal(c.name, "unexpected bytes after the end of the stream"))
                << c.name << " " << tail.size();
            EXPECT_TRUE(result.out == data) << c.name;
        }
    }
}

TEST(CopyPayload, FailedWritesAndReadsAreTheCallersToReport)
{
    const bytes data = sample();
    for (const codec_case &c : CODECS) {
        const bytes stored = c.compress(data);
        FILE *from = stream_of(stored);
        FILE *read_only = fopen("/dev/null", "r");  // every write fails
        captured_reports reports;
        EXPECT_EQ(copy_payload(from, read_only), blocks_end::use_failed) << c.name;
        fclose(read_only);
        fclose(from);
        // A read that fails after the first block.
        struct cookie_state {
            const bytes *stored;
            size_t at;
        } state = {&stored, 0};
        cookie_io_functions_t io = {};
        io.read = [](void *cookie, char *buffer, size_t size) -> ssize_t {
            auto *s = static_cast<cookie_state *>(cookie);
            if (s->at >= 20000) {
                errno = EIO;
                return -1;
            }
            const size_t n = std::min(size, s->stored->size() - s->at);
            memcpy(buffer, s->stored->data() + s->at, n);
            s->at += n;
            return static_cast<ssize_t>(n);
        };
        FILE *failing = fopencookie(&state, "r", io);
        setvbuf(failing, nullptr, _IOFBF, 4096);
        FILE *sink = fopen("/dev/null", "w");
        EXPECT_EQ(copy_payload(failing, sink), blocks_end::read_failed) << c.name;
        fclose(sink);
        fclose(failing);
        EXPECT_EQ(reports.text(), "") << c.name;
    }
}

TEST(PayloadTarSize, PlainIsTheStoredSize)
{
    FILE *stream = stream_of("header" + sample(0, 5000));
    EXPECT_EQ(payload_tar_size(stream, 6), 5000u);
    fclose(stream);
}

TEST(PayloadTarSize, ZstdFramesRecordTheirContentSizes)
{
    const bytes one = sample(2000, 70000);
    const bytes two = sample(10, 10);
    const bytes run(300000, 'z');  // blocks of one repeated byte: one stored byte each
    const bytes skippable = bytes("\x5A\x2A\x4D\x18\x02\x00\x00\x00" "ab", 10);
    FILE *stream = stream_of("head" + zstd_of(one) + skippable + zstd_of(two) + zstd_of(run));
    EXPECT_EQ(payload_tar_size(stream, 4), one.size() + two.size() + run.size());
    fclose(stream);
}

TEST(PayloadTarSize, UnknownWhereNothingRecordsIt)
{
    const bytes data = sample(2000, 0);
    const bytes frame = zstd_of(data);
    for (const bytes &stored : {xz_of(data), gzip_of(data), zstd_window_frame(20), frame.substr(0, frame.size() - 1),
                                frame + "x", frame + zstd_window_frame(20)}) {
        FILE *stream = stream_of(stored);
        EXPECT_EQ(payload_tar_size(stream, 0), 0u) << stored.size();
        fclose(stream);
    }
}

#include "decode.h"

#include "captured_reports.h"
#include "compressed_samples.h"
#include "progress.h"

#include <cstring>
#include <string>

namespace {

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

codec codec_of(const bytes &stored)
{
    return detect_codec(reinterpret_cast<const unsigned char *>(stored.data()), stored.size());
}

// copy_decoded from a file holding `stored` into a memory stream.
copied copy_of(const bytes &stored, progress_meter *meter = nullptr)
{
    FILE *from = stream_of(stored);
    char *buffer = nullptr;
    size_t size = 0;
    FILE *to = open_memstream(&buffer, &size);
    captured_reports reports;
    const blocks_end end = copy_decoded(from, codec_of(stored), to, meter);
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
        EXPECT_EQ(copy_decoded(from, codec_of(stored), read_only), blocks_end::use_failed) << c.name;
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
        EXPECT_EQ(copy_decoded(failing, codec_of(stored), sink), blocks_end::read_failed) << c.name;
        fclose(sink);
        fclose(failing);
        EXPECT_EQ(reports.text(), "") << c.name;
    }
}

// A frame cut right after its magic number is a frame cut short, not
// bytes after the stream: four bytes are a frame's start.
TEST(CopyPayload, AFrameCutAfterItsMagicIsCutShort)
{
    const bytes data = sample(100, 0);
    const copied magic_only = copy_of(zstd_of(data) + bytes("\x28\xB5\x2F\xFD", 4));
    EXPECT_EQ(magic_only.end, blocks_end::bad_data);
    EXPECT_EQ(magic_only.reports, refusal("zstd", "the stream is cut short"));
    const copied three = copy_of(zstd_of(data) + bytes("\x28\xB5\x2F", 3));
    EXPECT_EQ(three.reports, refusal("zstd", "unexpected bytes after the end of the stream"));
}

// Frames that end and start again across the decoder's 128 KiB reads.
TEST(CopyPayload, ZstdFramesAcrossReads)
{
    const bytes one = sample(0, 200000);
    const bytes two = sample(5000, 100000);
    const copied result = copy_of(zstd_of(one) + zstd_of(two) + zstd_of(one));
    EXPECT_EQ(result.end, blocks_end::done);
    EXPECT_TRUE(result.out == one + two + one);
    EXPECT_EQ(result.reports, "");
}

// The meter follows the stored bytes: a compressible payload is not shown
// done while most of it is unread.
TEST(CopyPayload, TheMeterCountsStoredBytes)
{
    const bytes data = sample(200000, 0);
    for (const codec_case &c : CODECS) {
        const bytes stored = c.compress(data);
        ASSERT_LT(stored.size() * 4, data.size()) << c.name;
        progress_meter meter(stored.size());
        EXPECT_EQ(copy_of(stored, &meter).end, blocks_end::done) << c.name;
        EXPECT_EQ(meter.counted(), stored.size()) << c.name;
    }
}

// The largest dictionary the builder writes (--compress xz --window-log 27)
// decodes. The stream is compressed with a small one; its block header then
// declares 128 MiB, which the decoder allocates.
TEST(CopyPayload, XzDecodesA128MiBDictionary)
{
    const bytes data = sample(3000, 1000);
    const bytes stored = xz_with_dictionary(xz_of(data), 30);
    const copied result = copy_of(stored);
    EXPECT_EQ(result.reports, "");
    EXPECT_EQ(result.end, blocks_end::done);
    EXPECT_TRUE(result.out == data);
    const copied larger = copy_of(xz_with_dictionary(xz_of(data), 31));
    EXPECT_EQ(larger.reports,
              refusal("xz", "the stream needs more than 129 MiB of memory (a dictionary over 128 MiB)"));
}

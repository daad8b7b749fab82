#include "decoding_needs.h"

#include "compressed_samples.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// What inspect_stream tells of a file holding `prefix` and then `stored`.
decoding_needs needs_of(const bytes &stored, const bytes &prefix = "")
{
    FILE *stream = tmpfile();
    const bytes file = prefix + stored;
    EXPECT_EQ(fwrite(file.data(), 1, file.size(), stream), file.size());
    fflush(stream);
    const decoding_needs needs = inspect_stream(fileno(stream), prefix.size(), file.size());
    fclose(stream);
    return needs;
}

} // namespace

TEST(DecodingNeeds, PlainIsTheStoredSize)
{
    const decoding_needs needs = needs_of(sample(0, 5000), "header");
    EXPECT_EQ(needs.format, codec::none);
    EXPECT_EQ(needs.decoded_size, 5000u);
    EXPECT_TRUE(needs.size_recorded);
    EXPECT_EQ(needs.decoder_memory, 0u);
}

TEST(DecodingNeeds, ZstdFramesRecordTheirContentSizesAndWindows)
{
    const bytes one = sample(2000, 70000);
    const bytes two = sample(10, 10);
    const bytes run(300000, 'z');  // blocks of one repeated byte: one stored byte each
    const bytes skippable = bytes("\x5A\x2A\x4D\x18\x02\x00\x00\x00" "ab", 10);
    const decoding_needs needs = needs_of(zstd_of(one) + skippable + zstd_of(two) + zstd_of(run), "head");
    EXPECT_EQ(needs.format, codec::zstd);
    EXPECT_EQ(needs.decoded_size, one.size() + two.size() + run.size());
    EXPECT_TRUE(needs.size_recorded);
    // A window no larger than the largest frame, which each frame's is.
    EXPECT_GE(needs.decoder_memory, run.size());
    EXPECT_LT(needs.decoder_memory, 2 * run.size() + (1 << 20));
}

// The window of a frame that records no size still counts: 2^26 bytes.
TEST(DecodingNeeds, ZstdWithoutContentSizeIsTheLeastItCanBe)
{
    const bytes data = sample(2000, 0);
    const decoding_needs needs = needs_of(zstd_of(data) + zstd_window_frame(26));
    EXPECT_EQ(needs.decoded_size, data.size());
    EXPECT_FALSE(needs.size_recorded);
    EXPECT_GE(needs.decoder_memory, uint64_t{1} << 26);
}

TEST(DecodingNeeds, ZstdThatDoesNotParseIsNotExact)
{
    const bytes frame = zstd_of(sample(2000, 0));
    for (const bytes &stored : {frame.substr(0, frame.size() - 1), frame + "x"})
        EXPECT_FALSE(needs_of(stored).size_recorded) << stored.size();
}

TEST(DecodingNeeds, XzStreamsSumTheirIndexes)
{
    const bytes one = sample(3000, 20000);
    const bytes two = sample(10, 5);
    const decoding_needs needs = needs_of(xz_of(one) + bytes(8, '\0') + xz_of(two) + xz_of(one), "prefix");
    EXPECT_EQ(needs.format, codec::xz);
    EXPECT_EQ(needs.decoded_size, 2 * one.size() + two.size());
    EXPECT_TRUE(needs.size_recorded);
}

// The dictionary comes from the block headers: the index does not record it.
TEST(DecodingNeeds, XzDictionaryFromTheBlockHeader)
{
    const bytes stored = xz_of(sample(3000, 1000));
    EXPECT_LT(needs_of(stored).decoder_memory, uint64_t{4} << 20);
    const decoding_needs large = needs_of(xz_of("x") + xz_with_dictionary(stored, 28));
    EXPECT_GE(large.decoder_memory, uint64_t{64} << 20);
    EXPECT_LT(large.decoder_memory, uint64_t{65} << 20);
}

TEST(DecodingNeeds, XzThatDoesNotParseIsNotExact)
{
    const bytes stream = xz_of(sample(3000, 0));
    // The last: a stream without its header after another stream.
    for (const bytes &stored : {stream.substr(0, stream.size() - 1), stream + "x", stream + bytes(3, '\0'),
                                xz_of("a") + stream.substr(LZMA_STREAM_HEADER_SIZE)})
        EXPECT_FALSE(needs_of(stored).size_recorded) << stored.size();
}

// The last four bytes, as gzip -l reads them: the whole size of the one
// member that the builder writes, only the last member's of several.
TEST(DecodingNeeds, GzipSizeIsTheLastTrailers)
{
    const bytes one = sample(3000, 200000);
    const bytes two = sample(1, 0);
    const decoding_needs single = needs_of(gzip_of(one), "p");
    EXPECT_EQ(single.format, codec::gzip);
    EXPECT_EQ(single.decoded_size, one.size());
    EXPECT_TRUE(single.size_recorded);
    EXPECT_EQ(single.decoder_memory, 0u);
    const decoding_needs members = needs_of(gzip_of(one) + gzip_of(two), "p");
    EXPECT_EQ(members.decoded_size, two.size());
    EXPECT_TRUE(members.size_recorded);
}

// Past 4 GiB the trailer wraps: 2^32 + 5 bytes read as 5.
TEST(DecodingNeeds, GzipTrailerIsTheSizeModulo4GiB)
{
    bytes member = gzip_of("x");
    member.replace(member.size() - 4, 4, bytes("\x05\x00\x00\x00", 4));
    EXPECT_EQ(needs_of(member).decoded_size, 5u);
    member.replace(member.size() - 4, 4, bytes("\xff\xff\xff\xff", 4));
    EXPECT_EQ(needs_of(member).decoded_size, 0xffffffffu);
}

// Shorter than a member's header and trailer: no size to read.
TEST(DecodingNeeds, GzipShorterThanAMemberRecordsNothing)
{
    const bytes member = gzip_of("");
    const decoding_needs cut = needs_of(member.substr(0, 17), "prefix");
    EXPECT_EQ(cut.format, codec::gzip);
    EXPECT_FALSE(cut.size_recorded);
    EXPECT_EQ(cut.decoded_size, 0u);
}

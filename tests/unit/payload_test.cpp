#include "payload.h"

#include "captured_reports.h"
#include "compressed_samples.h"
#include "temporary_stream.h"
#include "verify.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// read_payload of the whole file behind the stream.
int read_of(FILE *stream, uint64_t elf_end, payload &read)
{
    fflush(stream);
    fseek(stream, 0, SEEK_END);
    return read_payload(stream, elf_end, static_cast<uint64_t>(ftell(stream)), read);
}

std::string digest_of(const std::string &data)
{
    FILE *stream = stream_of(data);
    unsigned char digest[DIGEST_SIZE];
    EXPECT_EQ(compute_digest(stream, digest), 0);
    fclose(stream);
    return std::string(reinterpret_cast<char *>(digest), DIGEST_SIZE);
}

} // namespace

TEST(ReadPayload, HeaderSizeFieldIsReadInFullLittleEndian)
{
    const std::string digest = "0123456789abcdef";
    FILE *stream = stream_of("elf" + std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8) + digest + "tar");
    payload read;
    EXPECT_EQ(read_of(stream, 3, read), 0);
    EXPECT_EQ(read.header.archive_size, 0x0102030405060708u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(read.header.digest), DIGEST_SIZE), digest);
    EXPECT_EQ(read.start, 3 + PAYLOAD_HEADER_SIZE);
    EXPECT_EQ(read.stored_size, 3u);
    EXPECT_EQ(read.needs.decoded_size, 3u);
    fclose(stream);
}

TEST(ReadPayload, ShortHeaderFieldsAreReported)
{
    const struct {
        uint64_t at;
        std::string err;
    } cases[] = {
        {0, "Archive checksum read error\n"},        // a size field, half a digest
        {16, "Archive size read error\n"},           // seven bytes left
        {INT64_MAX, "Archive size read error\n"},    // the end of a clamped ELF64 image
    };
    for (const auto &c : cases) {
        FILE *stream = stream_of(std::string(23, 'h'));
        payload read;
        captured_reports reports;
        EXPECT_EQ(read_of(stream, c.at, read), FAILURE) << c.at;
        EXPECT_EQ(reports.text(), c.err) << c.at;
        fclose(stream);
    }
}

// What the stream records is read with the header: a compressed payload's
// codec and decoded size.
TEST(ReadPayload, TellsTheCodecAndTheDecodedSize)
{
    const bytes tar = sample(2000, 3000);
    FILE *stream = stream_of("elf" + std::string(PAYLOAD_HEADER_SIZE, 'h') + xz_of(tar));
    payload read;
    EXPECT_EQ(read_of(stream, 3, read), 0);
    EXPECT_EQ(read.needs.format, codec::xz);
    EXPECT_EQ(read.needs.decoded_size, tar.size());
    EXPECT_TRUE(read.needs.size_recorded);
    fclose(stream);
}

// Verification starts at the payload whatever read the stream last, and
// runs to the end of the file.
TEST(VerifyPayload, HashesFromTheStartToTheEnd)
{
    const std::string image = "elf" + std::string(8, '\0') + digest_of("payload") + "payload";
    FILE *stream = stream_of(image);
    payload read;
    ASSERT_EQ(read_of(stream, 3, read), 0);
    EXPECT_EQ(verify_payload(read), 0);
    EXPECT_EQ(verify_payload(read), 0);
    payload one_early = read;
    --one_early.start;
    EXPECT_EQ(verify_payload(one_early), FAILURE);
    fseek(stream, 0, SEEK_END);
    fputc('!', stream);  // appended bytes are part of the protected range
    EXPECT_EQ(verify_payload(read), FAILURE);
    fclose(stream);

    FILE *empty = stream_of("elf" + std::string(8, '\0') + digest_of(""));
    ASSERT_EQ(read_of(empty, 3, read), 0);
    EXPECT_EQ(verify_payload(read), 0);
    fclose(empty);
}

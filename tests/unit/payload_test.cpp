#include "payload.h"

#include "captured_reports.h"
#include "temporary_stream.h"

#include <gtest/gtest.h>

#include <string>

TEST(PayloadHeader, SizeFieldIsReadInFullLittleEndian)
{
    const std::string digest = "0123456789abcdef";
    FILE *stream = stream_of("elf" + std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8) + digest);
    payload_header header = {};
    EXPECT_EQ(read_payload_header(stream, 3, header), 0);
    EXPECT_EQ(header.archive_size, 0x0102030405060708u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(header.digest), DIGEST_SIZE), digest);
    fclose(stream);
}

TEST(PayloadHeader, ShortFieldsAreReported)
{
    const struct {
        int64_t at;
        std::string err;
    } cases[] = {
        {0, "Archive checksum read error\n"},        // a size field, half a digest
        {16, "Archive size read error\n"},           // seven bytes left
        {INT64_MAX, "Archive size read error\n"},    // the end of a clamped ELF64 image
    };
    for (const auto &c : cases) {
        FILE *stream = stream_of(std::string(23, 'h'));
        payload_header header = {};
        captured_reports reports;
        EXPECT_EQ(read_payload_header(stream, c.at, header), FAILURE) << c.at;
        EXPECT_EQ(reports.text(), c.err) << c.at;
        fclose(stream);
    }
}

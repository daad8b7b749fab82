#include "digest.h"

#include "captured_reports.h"
#include "payload.h"
#include "temporary_stream.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>

namespace {

std::string hex(const unsigned char *bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string md5_of(const std::string &bytes)
{
    FILE *stream = stream_of(bytes);
    unsigned char digest[DIGEST_SIZE];
    EXPECT_EQ(compute_digest(stream, digest), 0);
    EXPECT_TRUE(feof(stream));
    fclose(stream);
    return hex(digest, DIGEST_SIZE);
}

// Reference digests from coreutils md5sum for the block boundary lengths.
std::string md5sum_of(const std::string &bytes)
{
    char command[128];
    char path[64];
    snprintf(path, sizeof path, "/tmp/md5ref.%d", static_cast<int>(getpid()));
    FILE *out = fopen(path, "w");
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);
    snprintf(command, sizeof command, "md5sum %s", path);
    FILE *pipe = popen(command, "r");
    char line[128] = {0};
    EXPECT_NE(fgets(line, sizeof line, pipe), nullptr);
    pclose(pipe);
    remove(path);
    return std::string(line, 32);
}

} // namespace

TEST(Md5, Rfc1321Vectors)
{
    EXPECT_EQ(md5_of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5_of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5_of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5_of("1234567890123456789012345678901234567890"
                     "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, BlockBoundaries)
{
    for (size_t length : {0, 1, 4095, 4096, 4097, 8192}) {
        std::string bytes(length, '\0');
        for (size_t i = 0; i < length; ++i)
            bytes[i] = static_cast<char>(i * 7 + 3);
        EXPECT_EQ(md5_of(bytes), md5sum_of(bytes)) << length;
    }
}

TEST(Md5, ReadErrorLeavesTheDigestAlone)
{
    FILE *stream = fopen("/tmp", "r");  // a directory: reading fails with EISDIR
    ASSERT_NE(stream, nullptr);
    unsigned char digest[DIGEST_SIZE];
    memset(digest, 0xAB, sizeof digest);
    captured_reports reports;
    EXPECT_EQ(compute_digest(stream, digest), FAILURE);
    EXPECT_EQ(reports.text(), "Read file error\n");
    unsigned char untouched[DIGEST_SIZE];
    memset(untouched, 0xAB, sizeof untouched);
    EXPECT_EQ(memcmp(digest, untouched, DIGEST_SIZE), 0);
    fclose(stream);
}

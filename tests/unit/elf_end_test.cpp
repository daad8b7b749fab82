#include "elf_end.h"

#include "captured_reports.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct section {
    uint32_t type;
    uint64_t offset;
    uint64_t size;
};

struct crafted_elf {
    int elf_class = 2;
    uint64_t shoff = 0;
    uint16_t shentsize = 0;
    uint16_t shnum = 0;
    std::vector<section> sections;
    size_t file_size = 0;  // 0: just past the section header table
};

void put_le(std::vector<unsigned char> &bytes, size_t at, uint64_t value, size_t width)
{
    if (bytes.size() < at + width)
        bytes.resize(at + width);
    for (size_t i = 0; i < width; ++i)
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::vector<unsigned char> build(const crafted_elf &elf)
{
    const bool is64 = elf.elf_class == 2;
    const size_t header = is64 ? 64 : 52, record = is64 ? 64 : 40, word = is64 ? 8 : 4;
    std::vector<unsigned char> bytes(header, 0);
    bytes[0] = 0x7F, bytes[1] = 'E', bytes[2] = 'L', bytes[3] = 'F';
    bytes[4] = static_cast<unsigned char>(elf.elf_class), bytes[5] = 1, bytes[6] = 1;
    put_le(bytes, is64 ? 40 : 32, elf.shoff, word);
    put_le(bytes, is64 ? 58 : 46, elf.shentsize, 2);
    put_le(bytes, is64 ? 60 : 48, elf.shnum, 2);
    for (size_t i = 0; i < elf.sections.size(); ++i) {
        const size_t at = elf.shoff + i * record;
        put_le(bytes, at + 4, elf.sections[i].type, 4);
        put_le(bytes, at + (is64 ? 24 : 16), elf.sections[i].offset, word);
        put_le(bytes, at + (is64 ? 32 : 20), elf.sections[i].size, word);
    }
    const size_t table_end = elf.shoff + elf.shnum * record;
    if (bytes.size() < table_end)
        bytes.resize(table_end);
    if (elf.file_size != 0)
        bytes.resize(elf.file_size);
    return bytes;
}

struct end_result {
    int64_t end;
    std::string err;
};

end_result elf_end_of(const std::vector<unsigned char> &bytes)
{
    FILE *stream = tmpfile();
    EXPECT_NE(stream, nullptr);
    EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
    fflush(stream);
    captured_reports reports;
    const int64_t end = find_elf_end(stream);
    end_result result{end, reports.text()};
    fclose(stream);
    return result;
}

crafted_elf typical(int elf_class)
{
    crafted_elf elf;
    elf.elf_class = elf_class;
    elf.shentsize = elf_class == 2 ? 64 : 40;
    elf.shoff = 4096;
    elf.shnum = 4;
    elf.sections = {{0, 0, 0}, {1, 100, 900}, {8, 1000, 50000}, {2, 2000, 100}};
    return elf;
}

} // namespace

TEST(ElfEnd, TableLastWhenSectionsEndBeforeIt)
{
    for (int elf_class : {1, 2}) {
        const crafted_elf elf = typical(elf_class);
        const end_result r = elf_end_of(build(elf));
        EXPECT_EQ(r.end, static_cast<int64_t>(4096 + elf.shentsize * 4)) << elf_class;
        EXPECT_EQ(r.err, "");
    }
}

TEST(ElfEnd, SectionPastTheTableWins)
{
    for (int elf_class : {1, 2}) {
        crafted_elf elf = typical(elf_class);
        elf.sections[3] = {3, 6000, 31257};  // a string table behind the table
        EXPECT_EQ(elf_end_of(build(elf)).end, 37257) << elf_class;
    }
}

TEST(ElfEnd, NobitsBeyondTheTableDoesNotCount)
{
    for (int elf_class : {1, 2}) {
        crafted_elf elf = typical(elf_class);
        elf.sections[2] = {8, 5000, 1u << 20};
        EXPECT_EQ(elf_end_of(build(elf)).end, static_cast<int64_t>(4096 + elf.shentsize * 4));
    }
}

TEST(ElfEnd, ZeroSectionsEndsAtTheTableOffset)
{
    for (int elf_class : {1, 2}) {
        crafted_elf elf = typical(elf_class);
        elf.shnum = 0;
        elf.sections.clear();
        elf.file_size = 5000;
        const end_result r = elf_end_of(build(elf));
        EXPECT_EQ(r.end, 4096);
        EXPECT_EQ(r.err, "");
    }
}

TEST(ElfEnd, EntrySizeOnlyScalesTheTableEnd)
{
    // Records are still read as 40 or 64 bytes apart; only table_end uses e_shentsize.
    for (int elf_class : {1, 2}) {
        crafted_elf elf = typical(elf_class);
        elf.shentsize = 100;
        elf.sections[1] = {1, 100, 4300};
        EXPECT_EQ(elf_end_of(build(elf)).end, 4096 + 400) << elf_class;
        elf.sections[1] = {1, 100, 4500};
        EXPECT_EQ(elf_end_of(build(elf)).end, 4600) << elf_class;
    }
}

TEST(ElfEnd, SectionPastTheEndOfFileStillCounts)
{
    crafted_elf elf = typical(1);
    elf.sections[3] = {1, 9000, 1000000};
    const std::vector<unsigned char> bytes = build(elf);
    EXPECT_EQ(elf_end_of(bytes).end, 1009000);
    EXPECT_LT(bytes.size(), 1009000u);
}

TEST(ElfEnd, Elf32SumsWrapAt32Bits)
{
    crafted_elf elf = typical(1);
    elf.sections[3] = {1, 0xFFFFFF00u, 0x200};  // wraps to 0x100
    EXPECT_EQ(elf_end_of(build(elf)).end, 4096 + 160);
}

TEST(ElfEnd, BigEndianDeclarationIsReadLittleEndian)
{
    std::vector<unsigned char> bytes = build(typical(2));
    bytes[5] = 2;
    EXPECT_EQ(elf_end_of(bytes).end, 4096 + 256);
}

TEST(ElfEnd, Failures)
{
    std::vector<unsigned char> good = build(typical(1));
    struct {
        const char *what;
        std::vector<unsigned char> bytes;
        std::string err;
    } cases[] = {
        {"15 bytes", std::vector<unsigned char>(good.begin(), good.begin() + 15), "ELF ident read error: Success\n"},
        {"empty", {}, "ELF ident read error: Success\n"},
        {"bad magic", good, "ELF ident error\n"},
        {"class 0", good, "ELF ident error\n"},
        {"data 0", good, "ELF ident error\n"},
        {"version 2", good, "ELF ident error\n"},
        {"class 3", good, "Unknown ELF class\n"},
        {"short header 32", std::vector<unsigned char>(good.begin(), good.begin() + 51), "ELF header read error: Success\n"},
        {"no table", good, "Cannot find ELF section header\n"},
        {"short table", std::vector<unsigned char>(good.begin(), good.end() - 1), "ELF section header read error: Success\n"},
    };
    cases[2].bytes[3] = 'G';
    cases[3].bytes[4] = 0;
    cases[4].bytes[5] = 0;
    cases[5].bytes[6] = 2;
    cases[6].bytes[4] = 3;
    put_le(cases[8].bytes, 32, 0, 4);
    for (const auto &c : cases) {
        const end_result r = elf_end_of(c.bytes);
        EXPECT_EQ(r.end, -1) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
}

TEST(ElfEnd, Elf64ShortHeaderAndZeroTableOffset)
{
    std::vector<unsigned char> good = build(typical(2));
    EXPECT_EQ(elf_end_of(std::vector<unsigned char>(good.begin(), good.begin() + 63)).err,
              "ELF header read error: Success\n");
    put_le(good, 40, 0, 8);
    EXPECT_EQ(elf_end_of(good).err, "Cannot find ELF section header\n");
}

// No seek reaches past INT64_MAX; the payload header read reports such an end.
TEST(ElfEnd, Elf64EndsAtOrAbove2To63AreClampedToInt64Max)
{
    for (uint64_t offset : {1ull << 63, ~0ull - 100}) {
        crafted_elf elf = typical(2);
        elf.sections[3] = {1, offset, 100};
        const end_result r = elf_end_of(build(elf));
        EXPECT_EQ(r.end, INT64_MAX) << offset;
        EXPECT_EQ(r.err, "") << offset;
    }
}

// A bare launcher ends exactly at its ELF end: the rule on the real binaries.
TEST(ElfEnd, RealLaunchersEndAtTheirFileSize)
{
    for (const char *path : {LAUNCHER_I386, LAUNCHER_X86_64}) {
        FILE *stream = fopen(path, "r");
        ASSERT_NE(stream, nullptr) << path;
        struct stat st;
        ASSERT_EQ(stat(path, &st), 0);
        EXPECT_EQ(find_elf_end(stream), static_cast<int64_t>(st.st_size)) << path;
        fclose(stream);
    }
}

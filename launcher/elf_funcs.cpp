#include "elf_funcs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

enum { EI_NIDENT = 16, SHT_NOBITS = 8 };

// Per-class layout of the fields the end rule reads.
struct elf_layout {
    size_t header_size;
    size_t shoff_at, shoff_width;
    size_t shentsize_at, shnum_at;
    size_t record_size;
    size_t type_at, offset_at, size_at, field_width;
};

const elf_layout ELF32_LAYOUT = {52, 32, 4, 46, 48, 40, 4, 16, 20, 4};
const elf_layout ELF64_LAYOUT = {64, 40, 8, 58, 60, 64, 4, 24, 32, 8};

// ELF fields are read little-endian whatever the header declares.
uint64_t read_le(const unsigned char *bytes, size_t width)
{
    uint64_t value = 0;
    for (size_t i = width; i > 0; --i)
        value = (value << 8) | bytes[i - 1];
    return value;
}

int check_e_ident(const unsigned char ident[EI_NIDENT])
{
    if (ident[0] != 0x7F || ident[1] != 0x45 || ident[2] != 0x4C || ident[3] != 0x46
        || ident[4] == 0 || ident[5] == 0 || ident[6] != 1) {
        fputs("ELF ident error\n", stderr);
        return -1;
    }
    return 0;
}

int read_elf_class(FILE *stream)
{
    unsigned char ident[EI_NIDENT];
    rewind(stream);
    errno = 0;  // a short file is no system error: say so rather than a stale one
    if (fread(ident, 1, EI_NIDENT, stream) < EI_NIDENT) {
        perror("ELF ident read error");
        return -1;
    }
    if (check_e_ident(ident) != 0)
        return -1;
    return ident[4];
}

// The ELF32 sums wrap at 32 bits, as its offsets do.
int64_t find_class_end(FILE *stream, const elf_layout &layout, uint64_t width_mask)
{
    unsigned char *header = static_cast<unsigned char *>(malloc(layout.header_size));
    if (header == nullptr) {
        perror("ELF header malloc error");
        return -1;
    }
    errno = 0;
    if (fread(header, 1, layout.header_size, stream) < layout.header_size) {
        perror("ELF header read error");
        free(header);
        return -1;
    }
    const uint64_t shoff = read_le(header + layout.shoff_at, layout.shoff_width);
    const uint64_t shentsize = read_le(header + layout.shentsize_at, 2);
    const size_t shnum = static_cast<size_t>(read_le(header + layout.shnum_at, 2));
    free(header);

    if (shoff == 0) {
        fputs("Cannot find ELF section header\n", stderr);
        return -1;
    }
    if (shoff > static_cast<uint64_t>(INT64_MAX) || fseeko(stream, static_cast<off_t>(shoff), SEEK_SET) != 0) {
        perror("Seek to section header error");
        return -1;
    }
    unsigned char *table = static_cast<unsigned char *>(malloc(shnum * layout.record_size + 1));
    if (table == nullptr) {
        perror("Section header malloc error");
        return -1;
    }
    errno = 0;
    if (fread(table, layout.record_size, shnum, stream) < shnum) {
        perror("ELF section header read error");
        free(table);
        return -1;
    }
    uint64_t sections_end = 0;
    for (size_t i = 0; i < shnum; ++i) {
        const unsigned char *record = table + i * layout.record_size;
        if (read_le(record + layout.type_at, 4) == SHT_NOBITS)
            continue;
        const uint64_t sh_end = (read_le(record + layout.offset_at, layout.field_width)
                                 + read_le(record + layout.size_at, layout.field_width)) & width_mask;
        if (sh_end > sections_end)
            sections_end = sh_end;
    }
    free(table);

    const uint64_t table_end = (shoff + shentsize * shnum) & width_mask;
    const uint64_t end = table_end > sections_end ? table_end : sections_end;
    // A malformed 64-bit header can name an end no file reaches.
    return end > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(end);
}

int64_t find_elf32_end(FILE *stream)
{
    return find_class_end(stream, ELF32_LAYOUT, UINT32_MAX);
}

int64_t find_elf64_end(FILE *stream)
{
    return find_class_end(stream, ELF64_LAYOUT, UINT64_MAX);
}

} // namespace

int64_t find_elf_end(FILE *stream)
{
    const int elf_class = read_elf_class(stream);
    if (elf_class < 0)
        return -1;
    rewind(stream);
    switch (elf_class) {
    case 1:
        return find_elf32_end(stream);
    case 2:
        return find_elf64_end(stream);
    default:
        fputs("Unknown ELF class\n", stderr);
        return -1;
    }
}

#include "elf_end.h"

#include "little_endian.h"
#include "report.h"

#include <errno.h>
#include <stddef.h>

namespace {

constexpr size_t EI_NIDENT = 16;
constexpr uint64_t SHT_NOBITS = 8;

// Per-class layout of the fields the end rule reads, in the launcher's own
// byte order whatever the header declares: the file is the running program.
struct elf_layout {
    size_t header_size;
    size_t shoff_at, shoff_width;
    size_t shentsize_at, shnum_at;
    size_t record_size;
    size_t type_at, offset_at, size_at, field_width;
    uint64_t width_mask;  // the ELF32 sums wrap at 32 bits, as its offsets do
};

constexpr elf_layout ELF32_LAYOUT = {52, 32, 4, 46, 48, 40, 4, 16, 20, 4, UINT32_MAX};
constexpr elf_layout ELF64_LAYOUT = {64, 40, 8, 58, 60, 64, 4, 24, 32, 8, UINT64_MAX};
constexpr size_t LARGEST_RECORD = 64;

constexpr bool BIG_ENDIAN_CPU = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// A field in the byte order of the CPU the launcher runs on: big-endian on
// s390x, little-endian elsewhere.
uint64_t load_field(const unsigned char *bytes, size_t width)
{
    if (!BIG_ENDIAN_CPU)
        return load_le(bytes, width);
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// Reads size bytes; a short read at the end of the file has no system error.
int read_fully(FILE *stream, unsigned char *buffer, size_t size, const char *context)
{
    if (fread(buffer, 1, size, stream) == size)
        return 0;
    return report_error(context, ferror(stream) ? errno : NO_SYSTEM_ERROR);
}

// The same, from the start of the file.
int read_from_start(FILE *stream, unsigned char *buffer, size_t size, const char *context)
{
    if (fseeko(stream, 0, SEEK_SET) != 0)
        return report_errno(context);
    return read_fully(stream, buffer, size, context);
}

// The ELF class (1 or 2) from a valid identification; FAILURE after a report.
int read_elf_class(FILE *stream)
{
    unsigned char ident[EI_NIDENT];
    if (read_from_start(stream, ident, EI_NIDENT, "ELF ident read error") != 0)
        return FAILURE;
    if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F'
        || ident[4] == 0 || ident[5] == 0 || ident[6] != 1)
        return report("ELF ident error\n");
    return ident[4];
}

// The furthest end of a section that occupies file bytes.
int sections_end(FILE *stream, const elf_layout &layout, size_t shnum, uint64_t &end)
{
    end = 0;
    for (size_t i = 0; i < shnum; ++i) {
        unsigned char record[LARGEST_RECORD];
        if (read_fully(stream, record, layout.record_size, "ELF section header read error") != 0)
            return FAILURE;
        if (load_field(record + layout.type_at, 4) == SHT_NOBITS)
            continue;
        const uint64_t section_end = (load_field(record + layout.offset_at, layout.field_width)
                                      + load_field(record + layout.size_at, layout.field_width))
            & layout.width_mask;
        if (section_end > end)
            end = section_end;
    }
    return 0;
}

int64_t find_class_end(FILE *stream, const elf_layout &layout)
{
    unsigned char header[ELF64_LAYOUT.header_size];
    if (read_from_start(stream, header, layout.header_size, "ELF header read error") != 0)
        return FAILURE;
    const uint64_t shoff = load_field(header + layout.shoff_at, layout.shoff_width);
    const uint64_t shentsize = load_field(header + layout.shentsize_at, 2);
    const size_t shnum = static_cast<size_t>(load_field(header + layout.shnum_at, 2));

    if (shoff == 0)
        return report("Cannot find ELF section header\n");
    // No seek reaches past INT64_MAX; nothing has failed there yet.
    if (shoff > static_cast<uint64_t>(INT64_MAX))
        return report_error("Seek to section header error", NO_SYSTEM_ERROR);
    if (fseeko(stream, static_cast<off_t>(shoff), SEEK_SET) != 0)
        return report_errno("Seek to section header error");
    uint64_t end = 0;
    if (sections_end(stream, layout, shnum, end) != 0)
        return FAILURE;
    const uint64_t table_end = (shoff + shentsize * shnum) & layout.width_mask;
    if (table_end > end)
        end = table_end;
    // A malformed 64-bit header can name an end no file reaches.
    return end > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(end);
}

} // namespace

int64_t find_elf_end(FILE *stream)
{
    const int elf_class = read_elf_class(stream);
    if (elf_class < 0)
        return FAILURE;
    switch (elf_class) {
    case 1:
        return find_class_end(stream, ELF32_LAYOUT);
    case 2:
        return find_class_end(stream, ELF64_LAYOUT);
    default:
        return report("Unknown ELF class\n");
    }
}

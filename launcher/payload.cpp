#include "payload.h"

#include "little_endian.h"
#include "report.h"

#include <string.h>

namespace {

int read_payload_header(FILE *stream, uint64_t elf_end, payload_header &header)
{
    unsigned char size_field[sizeof header.archive_size];
    // An end no seek reaches lies past the end of the file: no header there.
    if (elf_end > static_cast<uint64_t>(INT64_MAX) || fseeko(stream, static_cast<off_t>(elf_end), SEEK_SET) != 0
        || fread(size_field, 1, sizeof size_field, stream) < sizeof size_field)
        return report("Archive size read error\n");
    header.archive_size = load_le(size_field, sizeof size_field);
    if (fread(header.digest, 1, DIGEST_SIZE, stream) < DIGEST_SIZE)
        return report("Archive checksum read error\n");
    return 0;
}

} // namespace

int read_payload(FILE *stream, uint64_t elf_end, uint64_t end, payload &read)
{
    read.stream = stream;
    if (read_payload_header(stream, elf_end, read.header) != 0)
        return FAILURE;
    read.start = elf_end + PAYLOAD_HEADER_SIZE;
    read.stored_size = end > read.start ? end - read.start : 0;
    read.needs = inspect_stream(fileno(stream), read.start, read.start + read.stored_size);
    return 0;
}

int start_payload_pass(const payload &stored)
{
    if (fseeko(stored.stream, static_cast<off_t>(stored.start), SEEK_SET) != 0)
        return report_errno("Seek to tar error");
    return 0;
}

int write_payload_header(FILE *stream, const payload_header &header)
{
    unsigned char bytes[PAYLOAD_HEADER_SIZE];
    store_le(header.archive_size, bytes, sizeof header.archive_size);
    memcpy(bytes + sizeof header.archive_size, header.digest, DIGEST_SIZE);
    return fwrite(bytes, 1, sizeof bytes, stream) == sizeof bytes ? 0 : FAILURE;
}

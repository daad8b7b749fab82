#include "payload.h"

#include "little_endian.h"
#include "report.h"

#include <string.h>

int read_payload_header(FILE *stream, int64_t elf_end, payload_header &header)
{
    unsigned char size_field[sizeof header.archive_size];
    // An end no seek reaches lies past the end of the file: no header there.
    if (fseeko(stream, static_cast<off_t>(elf_end), SEEK_SET) != 0
        || fread(size_field, 1, sizeof size_field, stream) < sizeof size_field)
        return report("Archive size read error\n");
    header.archive_size = load_le(size_field, sizeof size_field);
    if (fread(header.digest, 1, DIGEST_SIZE, stream) < DIGEST_SIZE)
        return report("Archive checksum read error\n");
    return 0;
}

int write_payload_header(FILE *stream, const payload_header &header)
{
    unsigned char bytes[PAYLOAD_HEADER_SIZE];
    store_le(header.archive_size, bytes, sizeof header.archive_size);
    memcpy(bytes + sizeof header.archive_size, header.digest, DIGEST_SIZE);
    return fwrite(bytes, 1, sizeof bytes, stream) == sizeof bytes ? 0 : FAILURE;
}

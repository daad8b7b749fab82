#include "payload.h"

#include "blocks.h"
#include "progress.h"
#include "report.h"

#include <cstring>

#include <tomcrypt.h>

uint64_t size_b_to_kb(uint64_t size)
{
    return (size + 1023) / 1024;
}

int read_payload_header(FILE *stream, int64_t elf_end, payload_header &header)
{
    unsigned char size_field[sizeof header.archive_size];
    // An end no seek reaches lies past the end of the file: no header there.
    if (fseeko(stream, static_cast<off_t>(elf_end), SEEK_SET) != 0
        || fread(size_field, 1, sizeof size_field, stream) < sizeof size_field)
        return report("Archive size read error\n");
    header.archive_size = 0;
    for (size_t i = sizeof size_field; i > 0; --i)
        header.archive_size = (header.archive_size << 8) | size_field[i - 1];
    if (fread(header.digest, 1, DIGEST_SIZE, stream) < DIGEST_SIZE)
        return report("Archive checksum read error\n");
    return 0;
}

int compute_digest(FILE *stream, unsigned char (&digest)[DIGEST_SIZE], progress_meter *meter)
{
    hash_state md;
    md5_init(&md);
    const blocks_end end = for_each_block(stream, [&md, meter](const unsigned char *block, size_t size) {
        md5_process(&md, block, static_cast<unsigned long>(size));  // fails only on 2^61 bytes
        if (meter != nullptr)
            meter->advance(size);
        return true;
    });
    if (end != blocks_end::done) {
        if (meter != nullptr)
            meter->erase();
        return report("Read file error\n");
    }
    md5_done(&md, digest);
    return 0;
}

bool verify_payload_digest(FILE *stream, uint64_t archive_offset, const unsigned char (&digest)[DIGEST_SIZE])
{
    if (fseeko(stream, static_cast<off_t>(archive_offset), SEEK_SET) != 0) {
        report_errno("Seek to tar error");
        return false;
    }
    unsigned char computed[DIGEST_SIZE];
    progress_meter meter(bytes_after(stream, archive_offset));
    if (compute_digest(stream, computed, &meter) != 0)
        return false;
    meter.erase();
    return memcmp(digest, computed, DIGEST_SIZE) == 0;
}

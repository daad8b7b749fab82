#include "digest.h"

#include "blocks.h"
#include "progress.h"
#include "report.h"

#include <string.h>

#include <tomcrypt.h>

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

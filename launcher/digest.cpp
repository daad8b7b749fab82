#include "digest.h"

#include "blocks.h"
#include "progress.h"
#include "report.h"

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

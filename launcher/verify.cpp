#include "verify.h"

#include "progress.h"
#include "report.h"

#include <string.h>

int verify_payload(const payload &stored)
{
    if (start_payload_pass(stored) != 0)
        return FAILURE;
    unsigned char computed[DIGEST_SIZE];
    progress_meter meter(stored.stored_size);
    if (compute_digest(stored.stream, computed, &meter) != 0)
        return FAILURE;
    meter.erase();
    return memcmp(stored.header.digest, computed, DIGEST_SIZE) == 0 ? 0 : FAILURE;
}

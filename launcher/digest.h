// The payload's digest: MD5 over a stream, and the check of an image's
// payload against the digest its header stores.
#ifndef VORLAN_DIGEST_H
#define VORLAN_DIGEST_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

constexpr size_t DIGEST_SIZE = 16;  // MD5

class progress_meter;

// The digest of the stream from its position to its end; 0, or FAILURE after
// reporting. A meter, when given, follows the pass.
int compute_digest(FILE *stream, unsigned char (&digest)[DIGEST_SIZE], progress_meter *meter = nullptr);

// Whether the range from archive_offset to the end of file has the stored
// digest; a read that failed has been reported. A terminal sees the progress.
bool verify_payload_digest(FILE *stream, uint64_t archive_offset, const unsigned char (&digest)[DIGEST_SIZE]);

#endif

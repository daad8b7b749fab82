// The payload's digest: MD5 over a stream.
#ifndef VORLAN_DIGEST_H
#define VORLAN_DIGEST_H

#include <stddef.h>
#include <stdio.h>

constexpr size_t DIGEST_SIZE = 16;  // MD5

class progress_meter;

// The digest of the stream from its position to its end; 0, or FAILURE after
// reporting. A meter, when given, follows the pass.
int compute_digest(FILE *stream, unsigned char (&digest)[DIGEST_SIZE], progress_meter *meter = nullptr);

#endif

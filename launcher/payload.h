// The payload header behind the launcher's image and the payload's digest.
#ifndef VORLAN_PAYLOAD_H
#define VORLAN_PAYLOAD_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr size_t DIGEST_SIZE = 16;  // MD5
// The tar's size, little-endian, then the digest of the tar.
constexpr size_t PAYLOAD_HEADER_SIZE = sizeof(uint64_t) + DIGEST_SIZE;

struct payload_header {
    uint64_t archive_size;  // only shown to the user; the range hashed runs to the end of file
    unsigned char digest[DIGEST_SIZE];
};

uint64_t size_b_to_kb(uint64_t size);

// Reads the header at the ELF end; 0, or FAILURE after reporting a short header.
int read_payload_header(FILE *stream, int64_t elf_end, payload_header &header);

class progress_meter;

// The digest of the stream from its position to its end; 0, or FAILURE after
// reporting. A meter, when given, follows the pass.
int compute_digest(FILE *stream, unsigned char (&digest)[DIGEST_SIZE], progress_meter *meter = nullptr);

// Whether the range from archive_offset to the end of file has the stored
// digest; a read that failed has been reported. A terminal sees the progress.
bool verify_payload_digest(FILE *stream, uint64_t archive_offset, const unsigned char (&digest)[DIGEST_SIZE]);

#endif

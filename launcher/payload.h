// The payload header between the launcher's image and the payload, read by
// an installer image and written by --create.
#ifndef VORLAN_PAYLOAD_H
#define VORLAN_PAYLOAD_H

#include "digest.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// The tar's size, little-endian, then the digest of the tar.
constexpr size_t PAYLOAD_HEADER_SIZE = sizeof(uint64_t) + DIGEST_SIZE;

struct payload_header {
    uint64_t archive_size;  // only shown to the user; the range hashed runs to the end of file
    unsigned char digest[DIGEST_SIZE];
};

// Reads the header at the ELF end; 0, or FAILURE after reporting a short header.
int read_payload_header(FILE *stream, int64_t elf_end, payload_header &header);

// Writes the header at the stream's position; 0, or FAILURE with errno set,
// for the caller to report.
int write_payload_header(FILE *stream, const payload_header &header);

#endif

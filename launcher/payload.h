// The payload: the header between the launcher's image and the stored
// payload, read by an installer image and written by --create, and what the
// stored payload is, read once for every later step.
#ifndef VORLAN_PAYLOAD_H
#define VORLAN_PAYLOAD_H

#include "decoding_needs.h"
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

// An installer image's payload. Every pass over it starts at `start` by
// start_payload_pass and reads to the end of the file.
struct payload {
    FILE *stream = nullptr;  // the launcher's own file; the caller owns it
    uint64_t start = 0;
    uint64_t stored_size = 0;
    payload_header header = {};
    decoding_needs needs;
};

// Reads the header at the ELF end of a file of `end` bytes and what the
// stored payload records about itself; 0, or FAILURE after reporting a
// short header.
int read_payload(FILE *stream, uint64_t elf_end, uint64_t end, payload &read);

// Positions the stream at the payload's first stored byte; 0, or FAILURE
// after reporting.
int start_payload_pass(const payload &stored);

// Writes the header at the stream's position; 0, or FAILURE with errno set,
// for the caller to report.
int write_payload_header(FILE *stream, const payload_header &header);

#endif

// Payload integrity, extraction, script launch and installer creation.
#ifndef VORLAN_INSTALLER_H
#define VORLAN_INSTALLER_H

#include <cstdint>
#include <cstdio>

enum { PAYLOAD_HEADER_SIZE = 24, DIGEST_SIZE = 16 };

// Reads and writes go in 4 KiB blocks; a larger stdio buffer behind each
// stream turns them into far fewer system calls.
enum { STREAM_BUFFER_SIZE = 128 * 1024 };

struct payload_header {
    uint64_t archive_size;  // only shown to the user; the range hashed runs to the end of file
    unsigned char digest[DIGEST_SIZE];
};

uint64_t size_b_to_kb(uint64_t size);

// Reads the 24 bytes at the ELF end; 0, or -1 after reporting a short header.
int read_payload_header(FILE *stream, int64_t elf_end, payload_header *header);

// MD5 of the stream from its position to its end; 0, or -1 after "Read file error".
int calc_md5_sum(FILE *stream, unsigned char digest[DIGEST_SIZE]);
// 0 when the range from archive_offset to the end of file has the stored digest.
int check_tar(FILE *stream, uint64_t archive_offset, const unsigned char digest[DIGEST_SIZE]);

// 0 to proceed, 1 when declined, -1 when five prompts brought no valid answer.
int ask_tar_run(uint64_t archive_size, const char *target_dir);
int ask_installer_run(char *const *script_args);

int run_tar(FILE *stream, uint64_t archive_offset, int tar_action,
            const char *tar_command, const char *target_dir);
// Returns only on failure, with -1.
int run_installer(char *const *script_args);

int create_installer(FILE *own_stream, const char *installer_name, const char *tar_name);

#endif

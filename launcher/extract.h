// Extraction: the payload through the system tar.
#ifndef VORLAN_EXTRACT_H
#define VORLAN_EXTRACT_H

#include "tar_action.h"

#include <stdint.h>
#include <stdio.h>

// Feeds the stream from archive_offset to its end to tar_command: extracting
// into the working directory, the entered target_dir, listing, or a custom
// command; 0 when tar succeeded, FAILURE after a report. An interrupt stops
// the feeding; once tar has ended, the run ends by that signal.
int pipe_payload_to_tar(FILE *stream, uint64_t archive_offset, tar_action action,
                        const char *tar_command, const char *target_dir);

#endif

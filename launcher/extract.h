// Extraction: the payload through the system tar.
#ifndef VORLAN_EXTRACT_H
#define VORLAN_EXTRACT_H

#include "payload.h"
#include "tar_action.h"

// Feeds the stored payload, decoded, to tar_command: extracting into the
// working directory, the entered target_dir, listing, or a custom command;
// 0 when tar succeeded, FAILURE after a report. An interrupt stops the
// feeding; once tar has ended, the run ends by that signal.
int pipe_payload_to_tar(const payload &stored, tar_action action, const char *tar_command, const char *target_dir);

#endif

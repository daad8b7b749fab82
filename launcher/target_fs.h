// What the target directory's file system allows: room for the tar, and
// running programs from it. Both are read from the entered target's
// descriptor; a file system that tells neither is not held against the run.
#ifndef VORLAN_TARGET_FS_H
#define VORLAN_TARGET_FS_H

#include <stdint.h>

// Refuses, after a report, a tar of tar_size bytes that the file system has no
// room for (its free space for the running user); 0 when it fits or tar_size
// is 0, which stands for a size not known before extracting.
int check_room(int target_fd, const char *target_dir, uint64_t tar_size);

// One warning line on stderr when the file system is mounted noexec: the
// script still runs through /bin/sh, but nothing it runs from the payload does.
void warn_if_noexec(int target_fd, const char *target_dir);

#endif

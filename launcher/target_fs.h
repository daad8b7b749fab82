// What the target directory's file system allows: room for the tar, and
// running programs from it. A file system that tells neither is not held
// against the run.
#ifndef VORLAN_TARGET_FS_H
#define VORLAN_TARGET_FS_H

#include <sys/statvfs.h>

#include <stdint.h>

// Refuses, after a report, a tar of at least tar_size bytes that the file
// system of target_dir has no room for (its free space for the running
// user); 0 when it fits. Asked before the target is made: a missing
// target_dir is looked at through its parent.
int check_room(const char *target_dir, uint64_t tar_size);

// The same decision on a file system's figures.
int check_room_on(const struct statvfs &fs, const char *target_dir, uint64_t tar_size);

// One warning line on stderr when the entered target's file system is mounted
// noexec: the script still runs through /bin/sh, but nothing it runs from
// the payload does.
void warn_if_noexec(int target_fd, const char *target_dir);

#endif

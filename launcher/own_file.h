// The launcher's own file and the name it was started by.
#ifndef VORLAN_OWN_FILE_H
#define VORLAN_OWN_FILE_H

#include "owned.h"

// argv[0] as a shell ran it: a name with a slash is used as it is, a bare
// name is looked up in PATH; 0, or FAILURE after a report.
int find_own_file(const char *argv0, heap_string &path);

// Refuses, after a report, an opened own file that is not the running
// program (argv[0] can name any file); 0 when it is, or when nothing can tell
// (no /proc). Under qemu-user, qemu answers for /proc/self/exe.
int check_running_file(int own_fd, const char *path);

// The last component of argv[0], as POSIX basename gives it ("." for an empty one).
text_view program_name(const char *argv0);

#endif

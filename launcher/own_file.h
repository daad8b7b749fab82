// The launcher's own file and the name it was started by.
#ifndef VORLAN_OWN_FILE_H
#define VORLAN_OWN_FILE_H

#include "owned.h"

// argv[0] as a shell ran it: a name with a slash is used as it is, a bare
// name is looked up in PATH; null after a report.
heap_string find_own_file(const char *argv0);

// The last component of argv[0], as POSIX basename gives it ("." for an empty one).
text_view program_name(const char *argv0);

#endif

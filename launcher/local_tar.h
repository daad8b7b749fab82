// Which tar PATH holds, and the command lines that extract or list with it.
#ifndef VORLAN_LOCAL_TAR_H
#define VORLAN_LOCAL_TAR_H

#include "tar_action.h"

// The shell command that extracts (action extract) or lists (action list) an
// archive on standard input with the local tar, found out once per run; 0,
// or FAILURE after a report when that tar cannot extract as root with the
// guarantees root's extraction has.
int local_tar_command(tar_action action, const char *&command);

#endif

// The directory an installer extracts into and runs its script in.
#ifndef VORLAN_TARGET_H
#define VORLAN_TARGET_H

#include "owned.h"

// Makes the directory when it is missing, refuses one that a user other than
// the running one or root controls, and enters it; 0 with the descriptor it
// was entered through, for looking at its file system, or FAILURE after a
// report.
int enter_target(const char *target_dir, file_descriptor &entered);

#endif

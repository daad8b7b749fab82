// The directory an installer extracts into and runs its script in.
#ifndef VORLAN_TARGET_H
#define VORLAN_TARGET_H

#include "owned.h"

// Makes the directory when it is missing, refuses one that a user other than
// the running one or root controls, and enters it. The descriptor it was
// entered through, for looking at its file system; none after a report.
file_descriptor enter_target(const char *target_dir);

#endif

// The hand-over to the embedded script: the launcher's process becomes it.
#ifndef VORLAN_HAND_OVER_H
#define VORLAN_HAND_OVER_H

// Becomes "/bin/sh ./install.sh ARGS..." in the current directory; returns
// FAILURE, after a report, only when that failed.
int exec_install_script(char *const *script_args);

#endif

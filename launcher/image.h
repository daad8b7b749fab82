// Writing an installer image: the launcher's own bytes, the payload header, the tar.
#ifndef VORLAN_IMAGE_H
#define VORLAN_IMAGE_H

#include <stdio.h>

// Writes the image beside installer_name and renames it over that name only
// when complete, so that a failed build leaves any earlier installer
// untouched; 0, or FAILURE after a report.
int create_installer(FILE *own_stream, const char *installer_name, const char *tar_name);

#endif

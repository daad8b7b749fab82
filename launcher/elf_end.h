// Where the launcher's executable image ends inside its own file.
#ifndef VORLAN_ELF_END_H
#define VORLAN_ELF_END_H

#include <stdint.h>
#include <stdio.h>

// The larger of the section header table's end and the end of the last
// section that occupies file bytes, at most INT64_MAX; FAILURE after a report.
int64_t find_elf_end(FILE *stream);

#endif

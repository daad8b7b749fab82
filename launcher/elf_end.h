// Where the launcher's executable image ends inside its own file.
#ifndef VORLAN_ELF_END_H
#define VORLAN_ELF_END_H

#include <stdint.h>
#include <stdio.h>

// The larger of the section header table's end and the end of the last
// section that occupies file bytes, at most INT64_MAX, into end; 0, or
// FAILURE after a report.
int find_elf_end(FILE *stream, uint64_t &end);

#endif

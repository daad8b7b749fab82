// The questions --confirm asks on standard output, answered on standard input.
#ifndef VORLAN_PROMPTS_H
#define VORLAN_PROMPTS_H

#include <stdint.h>

// none: five prompts brought no valid answer.
enum class answer { yes, no, none };

answer ask_to_extract(uint64_t archive_size, const char *target_dir);
answer ask_to_run_script(char *const *script_args);

#endif

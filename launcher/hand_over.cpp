#include "hand_over.h"

#include "owned.h"
#include "report.h"

#include <unistd.h>

#include <stdlib.h>

int exec_install_script(char *const *script_args)
{
    // The script must not start after output that was lost.
    if (check_stdout() != 0)
        return FAILURE;
    size_t count = 0;
    while (script_args != nullptr && script_args[count] != nullptr)
        ++count;
    owned<char *, free_deleter> argv(static_cast<char **>(calloc(count + 3, sizeof(char *))));
    if (argv == nullptr)
        return report_errno("Script argv allocation");
    argv.get()[0] = const_cast<char *>("sh");
    argv.get()[1] = const_cast<char *>("./install.sh");
    for (size_t i = 0; i < count; ++i)
        argv.get()[i + 2] = script_args[i];
    execv("/bin/sh", argv.get());
    return report_errno("Cannot exec install.sh");
}

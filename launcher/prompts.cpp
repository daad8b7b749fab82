#include "prompts.h"

#include "report.h"

#include <stdio.h>

namespace {

constexpr int ATTEMPTS = 5;

// Only the first character of the line counts; the rest is discarded.
answer read_answer()
{
    const int first = getchar();
    if (first != '\n' && first != EOF) {
        int c;
        do
            c = getchar();
        while (c != '\n' && c != EOF);
    }
    if (first == 'n' || first == 'N')
        return answer::no;
    if (first == 'y' || first == 'Y' || first == '\n')
        return answer::yes;
    return answer::none;
}

template <typename Prompt>
answer ask(Prompt show_prompt)
{
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        show_prompt();
        flush_stdout();
        const answer given = read_answer();
        if (given != answer::none)
            return given;
    }
    return answer::none;
}

} // namespace

answer ask_to_extract(uint64_t archive_size, const char *target_dir)
{
    const unsigned long long kilobytes = size_b_to_kb(archive_size);
    return ask([=] { printf("About to extract %llu KB in %s ... Proceed? [y/n] ", kilobytes, target_dir); });
}

answer ask_to_run_script(char *const *script_args)
{
    return ask([script_args] {
        fputs("OK to execute: install.sh ", stdout);
        for (char *const *arg = script_args; arg != nullptr && *arg != nullptr; ++arg)
            printf("%s ", *arg);
        fputs("? [y/n] ", stdout);
    });
}

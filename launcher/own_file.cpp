#include "own_file.h"

#include "report.h"

#include <unistd.h>

#include <string.h>

namespace {

constexpr size_t PATH_BUFFER_SIZE = 4096;

// Writes dir (its first dir_len characters), "/" and name; a zero length
// leaves the bare name, which then stands for the current directory.
void join_path(char *dest, const char *dir, size_t dir_len, const char *name)
{
    if (dir_len == 0) {
        strcpy(dest, name);
        return;
    }
    memcpy(dest, dir, dir_len);
    dest[dir_len] = '/';
    strcpy(dest + dir_len + 1, name);
}

// Looks the bare name up in PATH the way a shell would; 0 when a candidate
// is in buffer (the last element's, executable or not).
int search_path(const char *name, char (&buffer)[PATH_BUFFER_SIZE])
{
    const char *path = getenv("PATH");
    if (path == nullptr)
        return report("Cannot find PATH env\n");
    const size_t name_len = strlen(name);
    for (const char *element = path;;) {
        const char *colon = strchr(element, ':');
        const bool last = colon == nullptr;
        const size_t element_len = last ? strlen(element) : static_cast<size_t>(colon - element);
        // One limit; the texts have always told the last element from the others.
        if (name_len + element_len + 2 > PATH_BUFFER_SIZE)
            return report("Too %s PATH %s\n", last ? "long" : "big", path);
        join_path(buffer, element, element_len, name);
        if (last || access(buffer, X_OK) == 0)
            return 0;
        element = colon + 1;
    }
}

} // namespace

heap_string find_own_file(const char *argv0)
{
    char buffer[PATH_BUFFER_SIZE];
    if (strchr(argv0, '/') != nullptr) {
        if (strlen(argv0) + 1 > PATH_BUFFER_SIZE) {
            report("Too long program name %s\n", argv0);
            return nullptr;
        }
        strcpy(buffer, argv0);
    } else if (search_path(argv0, buffer) != 0) {
        return nullptr;
    }
    if (access(buffer, X_OK) != 0) {
        report("Cannot find %s executable\n", argv0);
        return nullptr;
    }
    heap_string own_file(strdup(buffer));
    if (own_file == nullptr)
        report_errno("strdup error for program path");
    return own_file;
}

text_view program_name(const char *argv0)
{
    if (*argv0 == '\0')
        return {".", 1};
    const char *end = argv0 + strlen(argv0);
    while (end > argv0 && end[-1] == '/')
        --end;
    if (end == argv0)
        return {"/", 1};
    const char *start = end;
    while (start > argv0 && start[-1] != '/')
        --start;
    return {start, static_cast<size_t>(end - start)};
}

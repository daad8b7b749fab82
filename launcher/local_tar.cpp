#include "local_tar.h"

#include "report.h"

#include <sys/wait.h>
#include <unistd.h>

#include <stdio.h>
#include <string.h>

namespace {

enum class tar_kind { gnu, busybox, unknown, missing };

// What every tar does: extract or list an archive read from standard input.
constexpr char PLAIN_EXTRACT[] = "tar -xf -";
constexpr char PLAIN_LIST[] = "tar -tvf -";
// GNU tar reads a pipe in 10 KiB records unless told otherwise: 256 KiB
// records, each read in full (-B), cost it far fewer wake-ups.
constexpr char GNU_EXTRACT[] = "tar -b 512 -B -xf -";
constexpr char GNU_LIST[] = "tar -b 512 -B -tvf -";
// Root's extraction: every new entry owned by root, and the owner and mode of
// directories that were already there left alone. GNU tar says so in two
// options. BusyBox tar keeps owners with -o; it leaves existing directories
// alone only when it sets no modes at all, so new entries take theirs from
// the archive through the creation mask, which 0 makes exact (as GNU tar's
// root extraction is; a new directory loses only its set-group-ID bit).
constexpr char GNU_ROOT_EXTRACT[] = "tar --no-same-owner --no-overwrite-dir -b 512 -B -xf -";
constexpr char BUSYBOX_ROOT_EXTRACT[] = "umask 0 && tar -o --no-same-permissions -xf -";

bool starts_with(const char *text, const char *prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// "tar --version" begins with the implementation's name; a shell that found
// no tar at all exits with 127.
tar_kind probe_local_tar()
{
    // Nothing of the user's input reaches it, nothing of its output the user.
    FILE *probe = popen("tar --version </dev/null 2>&1", "r");
    if (probe == nullptr)
        return tar_kind::unknown;
    char start[32] = "";
    const size_t got = fread(start, 1, sizeof start - 1, probe);
    start[got] = '\0';
    char rest[256];
    while (fread(rest, 1, sizeof rest, probe) > 0) {
    }
    const int status = pclose(probe);
    if (starts_with(start, "tar (GNU tar) "))
        return tar_kind::gnu;
    if (starts_with(start, "tar (busybox) "))
        return tar_kind::busybox;
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return tar_kind::missing;
    return tar_kind::unknown;
}

} // namespace

const char *local_tar_command(tar_action action)
{
    const tar_kind kind = probe_local_tar();
    if (action != tar_action::extract)
        return kind == tar_kind::gnu ? GNU_LIST : PLAIN_LIST;
    if (getuid() != 0)
        return kind == tar_kind::gnu ? GNU_EXTRACT : PLAIN_EXTRACT;
    switch (kind) {
    case tar_kind::gnu:
        return GNU_ROOT_EXTRACT;
    case tar_kind::busybox:
        return BUSYBOX_ROOT_EXTRACT;
    case tar_kind::missing:
        // The shell's own complaint says what is wrong.
        return PLAIN_EXTRACT;
    case tar_kind::unknown:
        break;
    }
    report("Extracting as root needs GNU tar or BusyBox tar as tar in PATH\n");
    return nullptr;
}

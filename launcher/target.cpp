#include "target.h"

#include "owned.h"
#include "report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <errno.h>
#include <string.h>

namespace {

// Root runs the script it finds in the target, so nobody but the running user
// and root may own or write it; group write is trusted for the user's own
// group only (root's: group 0).
int check_trusted(const char *target_dir, const struct stat &dir)
{
    const uid_t user = geteuid();
    const gid_t group = user == 0 ? 0 : getegid();
    if (dir.st_uid != user && dir.st_uid != 0)
        return report("Refusing target directory %s: it is owned by uid %lu\n", target_dir,
                      static_cast<unsigned long>(dir.st_uid));
    if ((dir.st_mode & S_IWOTH) != 0)
        return report("Refusing target directory %s: it is writable by others\n", target_dir);
    if ((dir.st_mode & S_IWGRP) != 0 && dir.st_gid != group)
        return report("Refusing target directory %s: it is writable by group %lu\n", target_dir,
                      static_cast<unsigned long>(dir.st_gid));
    return 0;
}

// No directory, once the reason is reported.
file_descriptor rejected(int /* FAILURE */)
{
    return file_descriptor();
}

} // namespace

// Checked and entered through one descriptor: what was checked is what tar
// fills and the script runs in, whatever later happens to the name. A link is
// not followed, even named with a trailing slash: whoever can write its
// directory chooses where it points.
file_descriptor enter_target(const char *target_dir)
{
    if (mkdir(target_dir, 0755) != 0 && errno != EEXIST)
        return rejected(report_file_error("Cannot mkdir", target_dir, errno));
    size_t length = strlen(target_dir);
    while (length > 1 && target_dir[length - 1] == '/')
        --length;
    const heap_string name(strndup(target_dir, length));
    if (name == nullptr)
        return rejected(report_errno("Cannot allocate memory for installation directory string"));
    file_descriptor dir_fd(open(name.get(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!dir_fd)
        return rejected(report_file_error("Cannot chdir to", target_dir, errno));
    struct stat dir;
    if (fstat(dir_fd.get(), &dir) != 0)
        return rejected(report_file_error("Cannot stat", target_dir, errno));
    if (S_ISLNK(dir.st_mode))
        return rejected(report("Refusing target directory %s: it is a symbolic link\n", target_dir));
    if (!S_ISDIR(dir.st_mode))
        return rejected(report_file_error("Cannot chdir to", target_dir, ENOTDIR));
    if (check_trusted(target_dir, dir) != 0)
        return file_descriptor();
    if (fchdir(dir_fd.get()) != 0)
        return rejected(report_file_error("Cannot chdir to", target_dir, errno));
    return dir_fd;
}

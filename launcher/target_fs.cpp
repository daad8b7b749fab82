#include "target_fs.h"

#include "report.h"

#include <sys/statvfs.h>

int check_room(int target_fd, const char *target_dir, uint64_t tar_size)
{
    struct statvfs fs;
    // A file system that counts no blocks (some network and virtual ones)
    // tells nothing about its room.
    if (tar_size == 0 || fstatvfs(target_fd, &fs) != 0 || fs.f_blocks == 0)
        return 0;
    const uint64_t available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    if (tar_size <= available)
        return 0;
    // The need rounded up, the room down: the two never read as equal.
    return report("Not enough free space in %s: %llu KB needed, %llu KB available\n", target_dir,
                  static_cast<unsigned long long>(size_b_to_kb(tar_size)),
                  static_cast<unsigned long long>(available / 1024));
}

void warn_if_noexec(int target_fd, const char *target_dir)
{
    struct statvfs fs;
    if (fstatvfs(target_fd, &fs) == 0 && (fs.f_flag & ST_NOEXEC) != 0)
        report("Warning: %s is on a file system mounted noexec, where the script cannot run programs "
               "from the payload; extract elsewhere with --target\n",
               target_dir);
}

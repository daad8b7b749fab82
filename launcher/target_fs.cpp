#include "target_fs.h"

#include "owned.h"
#include "report.h"

#include <errno.h>
#include <string.h>

namespace {

// The directory that holds target_dir: "." for a bare name, "/" for a name
// right under the root.
heap_string parent_of(const char *target_dir)
{
    size_t length = strlen(target_dir);
    while (length > 1 && target_dir[length - 1] == '/')
        --length;
    while (length > 0 && target_dir[length - 1] != '/')
        --length;
    while (length > 1 && target_dir[length - 1] == '/')
        --length;
    return heap_string(length == 0 ? strdup(".") : strndup(target_dir, length));
}

} // namespace

int check_room(const char *target_dir, uint64_t tar_size)
{
    struct statvfs fs;
    if (statvfs(target_dir, &fs) == 0)
        return check_room_on(fs, target_dir, tar_size);
    // Whatever keeps the target from being made is entering's to report.
    const heap_string parent = errno == ENOENT ? parent_of(target_dir) : heap_string();
    if (parent == nullptr || statvfs(parent.get(), &fs) != 0)
        return 0;
    return check_room_on(fs, target_dir, tar_size);
}

int check_room_on(const struct statvfs &fs, const char *target_dir, uint64_t tar_size)
{
    // A file system that counts no blocks (some network and virtual ones)
    // tells nothing about its room.
    if (tar_size == 0 || fs.f_blocks == 0)
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

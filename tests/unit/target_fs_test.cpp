#include "target_fs.h"

#include "captured_reports.h"
#include <cstdlib>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct statvfs file_system(unsigned long block_size, unsigned long fragment_size, fsblkcnt_t blocks,
                           fsblkcnt_t available)
{
    struct statvfs fs = {};
    fs.f_bsize = block_size;
    fs.f_frsize = fragment_size;
    fs.f_blocks = blocks;
    fs.f_bavail = available;
    return fs;
}

// check_room_on's result and what it reported.
std::string room(const struct statvfs &fs, uint64_t tar_size)
{
    captured_reports reports;
    const int result = check_room_on(fs, "t", tar_size);
    return std::to_string(result) + " " + reports.text();
}

} // namespace

// Free blocks are counted in fragments; the preferred I/O size is another
// figure (XFS and NFS tell them apart).
TEST(CheckRoom, FreeSpaceIsInFragments)
{
    const struct statvfs fs = file_system(1 << 20, 4096, 1000, 25);
    EXPECT_EQ(room(fs, 100 << 10), "0 ");
    EXPECT_EQ(room(fs, (100 << 10) + 1), "-1 Not enough free space in t: 101 KB needed, 100 KB available\n");
}

TEST(CheckRoom, ATarExactlyTheFreeRoomFits)
{
    const struct statvfs fs = file_system(4096, 4096, 1000, 25);
    EXPECT_EQ(room(fs, 100 << 10), "0 ");
}

// ramfs and some network file systems count no blocks at all.
TEST(CheckRoom, AFileSystemWithoutBlocksTellsNothing)
{
    EXPECT_EQ(room(file_system(4096, 4096, 0, 0), 1 << 20), "0 ");
    EXPECT_EQ(room(file_system(4096, 4096, 1000, 0), 0), "0 ");
}

// Asked before the target is made: a missing target is its parent's file system.
TEST(CheckRoom, AMissingTargetIsLookedAtThroughItsParent)
{
    char dir[] = "/tmp/target_fs_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string target = std::string(dir) + "/missing/";
    captured_reports reports;
    EXPECT_EQ(check_room(target.c_str(), UINT64_MAX / 2), FAILURE);
    EXPECT_EQ(reports.text().rfind("Not enough free space in " + target + ": ", 0), 0u) << reports.text();
    EXPECT_EQ(check_room((std::string(dir) + "/no/such/parent").c_str(), UINT64_MAX / 2), 0);
    rmdir(dir);
}

#include "owned.h"

#include "temporary_directory.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class TemporaryFile : public TemporaryDirectory {
protected:
    heap_string template_for(const std::string &name) { return heap_string(strdup((name + ".XXXXXX").c_str())); }
    // How many entries the directory holds.
    int entries()
    {
        DIR *listing = opendir(dir.c_str());
        int count = 0;
        while (const dirent *entry = readdir(listing))
            count += entry->d_name[0] != '.';
        closedir(listing);
        return count;
    }
};

} // namespace

TEST_F(TemporaryFile, RemovedUnlessCommitted)
{
    {
        temporary_file temporary(template_for(dir + "/out.run"));
        file_descriptor fd(temporary.create());
        ASSERT_TRUE(fd);
        EXPECT_EQ(entries(), 1);
    }
    EXPECT_EQ(entries(), 0);
}

TEST_F(TemporaryFile, CommitRenamesOverTheFinalName)
{
    const std::string final_name = dir + "/out.run";
    close(open(final_name.c_str(), O_CREAT | O_WRONLY, 0644));
    {
        temporary_file temporary(template_for(final_name));
        file_descriptor fd(temporary.create());
        ASSERT_TRUE(fd);
        ASSERT_EQ(write(fd.get(), "new", 3), 3);
        EXPECT_EQ(temporary.commit(final_name.c_str()), 0);
    }
    EXPECT_EQ(entries(), 1);
    struct stat st;
    ASSERT_EQ(stat(final_name.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 3);
}

TEST_F(TemporaryFile, AFailedCommitStillRemovesTheFile)
{
    {
        temporary_file temporary(template_for(dir + "/out.run"));
        file_descriptor fd(temporary.create());
        ASSERT_TRUE(fd);
        EXPECT_EQ(temporary.commit((dir + "/missing/out.run").c_str()), -1);
        EXPECT_EQ(errno, ENOENT);
    }
    EXPECT_EQ(entries(), 0);
}

#include "owned.h"

#include <unistd.h>

file_descriptor::~file_descriptor()
{
    if (fd_ >= 0)
        close(fd_);
}

int file_descriptor::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

temporary_file::~temporary_file()
{
    if (exists_)
        unlink(path_.get());
}

int temporary_file::create()
{
    const int fd = mkstemp(path_.get());
    exists_ = fd >= 0;
    return fd;
}

int temporary_file::commit(const char *final_name)
{
    if (rename(path_.get(), final_name) != 0)
        return -1;
    exists_ = false;
    return 0;
}

#include "owned.h"

#include "interrupt.h"

#include <unistd.h>

file_descriptor::~file_descriptor()
{
    if (fd_ >= 0)
        close(fd_);
}

file_descriptor &file_descriptor::operator=(file_descriptor &&other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = other.release();
    }
    return *this;
}

int file_descriptor::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

// The file and what an interrupt would remove change together, with
// interrupts held: a handler never removes a name that is not this file's.
temporary_file::~temporary_file()
{
    if (!exists_)
        return;
    const interrupts_held held;
    unlink(path_.get());
    remove_on_interrupt(nullptr);
}

int temporary_file::create()
{
    const interrupts_held held;
    const int fd = mkstemp(path_.get());
    exists_ = fd >= 0;
    if (exists_)
        remove_on_interrupt(path_.get());
    return fd;
}

int temporary_file::commit(const char *final_name)
{
    const interrupts_held held;
    const int renamed = rename(path_.get(), final_name);
    if (renamed == 0) {
        exists_ = false;
        remove_on_interrupt(nullptr);
    }
    return renamed;
}

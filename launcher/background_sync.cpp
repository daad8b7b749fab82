#include "background_sync.h"

#include <linux/aio_abi.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <errno.h>

static_assert(sizeof(aio_context_t) == sizeof(unsigned long));

// No library wraps these calls; the kernel has had them since Linux 2.6, and
// a sync through them since 4.18 (older kernels refuse it with EINVAL).
void background_sync::start(int fd)
{
    if (syscall(SYS_io_setup, 1, &context_) != 0) {
        context_ = 0;
        return;
    }
    // The kernel copies the request; only its address would come back.
    iocb request{};
    request.aio_fildes = static_cast<__u32>(fd);
    request.aio_lio_opcode = IOCB_CMD_FDSYNC;
    iocb *requests[] = {&request};
    running_ = syscall(SYS_io_submit, context_, 1, requests) == 1;
}

background_sync::~background_sync()
{
    if (context_ != 0)
        syscall(SYS_io_destroy, context_);
}

int background_sync::wait()
{
    if (!running_)
        return 0;
    running_ = false;
    io_event event{};
    long got;
    do
        got = syscall(SYS_io_getevents, context_, 1, 1, &event, nullptr);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno;
    // Without a timeout the call returns only with the event.
    return event.res < 0 ? static_cast<int>(-event.res) : 0;
}

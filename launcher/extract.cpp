#include "extract.h"

#include "blocks.h"
#include "decode.h"
#include "interrupt.h"
#include "owned.h"
#include "progress.h"
#include "report.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/wait.h>

#include <errno.h>
#include <signal.h>

namespace {

struct pclose_deleter {
    void operator()(FILE *pipe) const { pclose(pipe); }
};
// Closed unchecked on a failure before the copy; after it, pclose(pipe.release()).
using tar_pipe = owned<FILE, pclose_deleter>;

// pclose's status, told apart: a failed wait has an errno, a failed tar has an exit status.
int report_tar_status(int status)
{
    if (status == -1)
        return report_errno("Close tar pipe error");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 0;
    if (WIFSIGNALED(status))
        return report("Close tar pipe error: tar killed by signal %d\n", WTERMSIG(status));
    return report("Close tar pipe error: tar exited with status %d\n", WEXITSTATUS(status));
}

tar_pipe open_tar_pipe(tar_action action, const char *tar_command, const char *target_dir)
{
    // Announced before tar starts, so that its messages follow the line.
    if (action == tar_action::extract)
        printf("Uncompressing in %s...\n", target_dir);
    flush_stdout();
    tar_pipe pipe(popen(tar_command, "w"));
    if (pipe == nullptr) {
        report_errno("Open tar pipe error");
        return nullptr;
    }
    static char pipe_buffer[STREAM_BUFFER_SIZE];
    setvbuf(pipe.get(), pipe_buffer, _IOFBF, sizeof pipe_buffer);
    // A larger pipe wakes tar less often; the default capacity still works.
    fcntl(fileno(pipe.get()), F_SETPIPE_SZ, 1 << 20);
    return pipe;
}

// Once tar has ended: what it extracted stays, and the run ends by the signal.
[[noreturn]] void end_interrupted(tar_action action, const char *target_dir, int signal_number)
{
    if (action == tar_action::extract)
        report("Interrupted: the target directory %s holds a partial extraction\n", target_dir);
    end_by_interrupt(signal_number);
}

} // namespace

int pipe_payload_to_tar(FILE *stream, uint64_t archive_offset, tar_action action,
                        const char *tar_command, const char *target_dir)
{
    tar_pipe pipe = open_tar_pipe(action, tar_command, target_dir);
    if (pipe == nullptr)
        return FAILURE;
    if (fseeko(stream, static_cast<off_t>(archive_offset), SEEK_SET) != 0)
        return report_errno("Seek to tar error");
    // A tar that stops reading early must not end the launcher silently. Tar
    // started with what the launcher inherited, and the script gets it back.
    const auto inherited_sigpipe = signal(SIGPIPE, SIG_IGN);
    // Listings and custom commands write to the terminal themselves.
    progress_meter meter(action == tar_action::extract ? bytes_after(stream, archive_offset) : 0);
    defer_interrupts();
    blocks_end copied = copy_payload(stream, pipe.get(), &meter);
    if (interrupt_noted()) {
        // What is still buffered stays out of the pipe: tar reads its end now.
        __fpurge(pipe.get());
    } else if (copied == blocks_end::read_failed) {
        meter.erase();
        report("Read tar error\n");  // before tar's own complaint about the cut archive
    } else if (copied == blocks_end::done && fflush(pipe.get()) != 0) {
        copied = blocks_end::use_failed;
    }
    const int write_errno = errno;
    // Gone before tar's last messages, which start on a clean line.
    meter.erase();
    const int status = pclose(pipe.release());
    signal(SIGPIPE, inherited_sigpipe);
    if (const int signal_number = stop_deferring_interrupts())
        end_interrupted(action, target_dir, signal_number);
    if (copied == blocks_end::read_failed || copied == blocks_end::bad_data)
        return FAILURE;
    // A tar that closed its end says in its status whether it had all it
    // needed: GNU tar stops reading at the end-of-archive marker, before the
    // zeros that pad the archive's last record, and ends with 0.
    if (copied == blocks_end::use_failed)
        return write_errno == EPIPE ? report_tar_status(status) : report("Write to tar pipe error\n");
    return report_tar_status(status);
}

#include "image.h"

#include "background_sync.h"
#include "blocks.h"
#include "digest.h"
#include "owned.h"
#include "payload.h"
#include "report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <errno.h>
#include <string.h>

namespace {

// The kernel copies at most this much per call (and less when it likes).
constexpr size_t KERNEL_COPY_CHUNK = 1 << 30;
// Below this the sync's teardown in the kernel (about 30 ms: two RCU grace
// periods) eats what running it in the background gains.
constexpr uint64_t BACKGROUND_SYNC_MIN_SIZE = 64 << 20;

// The copy's failures in the caller's words.
int copy_reported(FILE *from, FILE *to, const char *read_error, const char *write_error)
{
    switch (copy_stream(from, to)) {
    case blocks_end::read_failed:
        return report("%s", read_error);
    case blocks_end::use_failed:
        return report("%s", write_error);
    case blocks_end::done:
    case blocks_end::bad_data:  // a plain copy takes any bytes
        break;
    }
    return 0;
}

// Appends the whole of one file to another, whose stream holds nothing
// unwritten: inside the kernel as far as it agrees to (it refuses a copy
// between file systems before Linux 5.19, file systems that cannot, or has no
// such call), then through the stream loop, which carries on from where the
// kernel stopped and reports any failure, a full disk included, with the
// caller's texts.
int append_file(FILE *from, FILE *to, const char *read_error, const char *write_error)
{
    off_t from_offset = 0;
    ssize_t copied;
    do
        copied = copy_file_range(fileno(from), &from_offset, fileno(to), nullptr, KERNEL_COPY_CHUNK, 0);
    while (copied > 0);
    // The image is this run's own new file: its end is where writing goes on.
    if (fseeko(to, 0, SEEK_END) != 0)
        return report("%s", write_error);
    if (fseeko(from, from_offset, SEEK_SET) != 0)
        return report("%s", read_error);
    clearerr(from);
    return copy_reported(from, to, read_error, write_error);
}

// The parts of an installer image behind the launcher's own bytes. The tar is
// copied before its digest is taken, so that the kernel puts the copy on disk
// while the digest pass reads instead of the final sync waiting for all of it.
int write_payload(FILE *tar, uint64_t tar_size, FILE *installer, const char *installer_name)
{
    // The digest is left zero until a pass over the tar gives it.
    payload_header header = {tar_size, {}};
    if (write_payload_header(installer, header) != 0)
        return report_errno("Archive size write error");
    // The header reaches the file before the tar is appended behind it.
    if (fflush(installer) != 0)
        return report_file_error("Cannot write", installer_name, errno);
    const off_t header_offset = lseek(fileno(installer), 0, SEEK_CUR) - static_cast<off_t>(PAYLOAD_HEADER_SIZE);
    if (append_file(tar, installer, "Read tar error\n", "Write to installer error\n") != 0)
        return FAILURE;
    if (fflush(installer) != 0)
        return report_file_error("Cannot write", installer_name, errno);
    background_sync copy_to_disk;
    if (tar_size >= BACKGROUND_SYNC_MIN_SIZE)
        copy_to_disk.start(fileno(installer));
    if (fseeko(tar, 0, SEEK_SET) != 0)
        return report("Read file error\n");
    if (compute_digest(tar, header.digest) != 0)
        return FAILURE;
    if (const int error = copy_to_disk.wait())
        return report_file_error("Cannot write", installer_name, error);
    // The whole header again, now with its digest; the final flush and sync write it out.
    if (fseeko(installer, header_offset, SEEK_SET) != 0 || write_payload_header(installer, header) != 0)
        return report_errno("MD5sum write error");
    return 0;
}

// The tar file is read twice and must not be the file being replaced.
int check_tar_file(int tar_fd, const char *tar_name, const char *installer_name, uint64_t &tar_size)
{
    struct stat tar_stat;
    if (fstat(tar_fd, &tar_stat) != 0)
        return report_file_error("Cannot stat", tar_name, errno);
    if (!S_ISREG(tar_stat.st_mode))
        return report("Tar file %s is not a regular file\n", tar_name);
    struct stat installer_stat;
    if (stat(installer_name, &installer_stat) == 0 && installer_stat.st_dev == tar_stat.st_dev
        && installer_stat.st_ino == tar_stat.st_ino)
        return report("Installer %s and tar file %s are the same file\n", installer_name, tar_name);
    tar_size = static_cast<uint64_t>(tar_stat.st_size);
    return 0;
}

int write_installer(FILE *own_stream, FILE *installer, const char *installer_name, const char *tar_name)
{
    // Without O_NONBLOCK, opening a FIFO would wait for a writer before
    // its type could be refused.
    file_descriptor tar_fd(open(tar_name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!tar_fd)
        return report_file_error("Cannot open", tar_name, errno);
    uint64_t tar_size = 0;
    if (check_tar_file(tar_fd.get(), tar_name, installer_name, tar_size) != 0)
        return FAILURE;
    fcntl(tar_fd.get(), F_SETFL, fcntl(tar_fd.get(), F_GETFL) & ~O_NONBLOCK);
    file_stream tar(fdopen(tar_fd.get(), "r"));
    if (tar == nullptr)
        return report_file_error("Cannot open", tar_name, errno);
    tar_fd.release();
    static char tar_buffer[STREAM_BUFFER_SIZE];
    setvbuf(tar.get(), tar_buffer, _IOFBF, sizeof tar_buffer);
    if (append_file(own_stream, installer, "Read launcher error\n", "Write installer file error\n") != 0)
        return FAILURE;
    return write_payload(tar.get(), tar_size, installer, installer_name);
}

// Flushing and closing reveal what the writes could not (a full disk).
int close_installer(file_stream installer, const char *installer_name)
{
    if (fchmod(fileno(installer.get()), 0755) != 0)
        return report_file_error("Cannot chmod 0755", installer_name, errno);
    // On disk before the rename: a crash then leaves the old image or the new one.
    if (fflush(installer.get()) != 0 || ferror(installer.get()) || fsync(fileno(installer.get())) != 0)
        return report_file_error("Cannot write", installer_name, errno);
    if (fclose(installer.release()) != 0)
        return report_file_error("Cannot write", installer_name, errno);
    return 0;
}

// The rename itself lasts only once the directory holding the name is on disk.
int sync_directory_of(const char *installer_name)
{
    const char *slash = strrchr(installer_name, '/');
    const size_t length = slash == nullptr ? 0 : slash == installer_name ? 1 : slash - installer_name;
    const heap_string dir(length == 0 ? strdup(".") : strndup(installer_name, length));
    if (dir == nullptr)
        return report_errno("Cannot allocate memory for installer name");
    const file_descriptor dir_fd(open(dir.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // EINVAL: a file system that has no way to sync a directory.
    if (!dir_fd || (fsync(dir_fd.get()) != 0 && errno != EINVAL))
        return report_file_error("Cannot write", installer_name, errno);
    return 0;
}

// "NAME.XXXXXX", a mkstemp template beside the installer name.
heap_string temporary_name(const char *installer_name)
{
    const size_t name_len = strlen(installer_name);
    heap_string name(static_cast<char *>(malloc(name_len + sizeof ".XXXXXX")));
    if (name != nullptr) {
        memcpy(name.get(), installer_name, name_len);
        memcpy(name.get() + name_len, ".XXXXXX", sizeof ".XXXXXX");
    }
    return name;
}

} // namespace

int create_installer(FILE *own_stream, const char *installer_name, const char *tar_name)
{
    heap_string name = temporary_name(installer_name);
    if (name == nullptr)
        return report_errno("Cannot allocate memory for installer name");
    temporary_file temporary(moved(name));
    file_descriptor fd(temporary.create());
    file_stream installer(fd ? fdopen(fd.get(), "w") : nullptr);
    if (installer == nullptr)
        return report_file_error("Cannot open", installer_name, errno);
    fd.release();
    static char installer_buffer[STREAM_BUFFER_SIZE];
    setvbuf(installer.get(), installer_buffer, _IOFBF, sizeof installer_buffer);
    if (write_installer(own_stream, installer.get(), installer_name, tar_name) != 0
        || close_installer(moved(installer), installer_name) != 0)
        return FAILURE;
    if (temporary.commit(installer_name) != 0)
        return report_file_error("Cannot replace", installer_name, errno);
    return sync_directory_of(installer_name);
}

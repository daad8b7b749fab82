#include "installer.h"

#include "options.h"
#include "progress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <tomcrypt.h>

namespace {

enum { BLOCK_SIZE = 4096, ATTEMPTS = 5 };
// The kernel copies at most this much per call (and less when it likes).
constexpr size_t KERNEL_COPY_CHUNK = 1 << 30;
enum answer { ANSWER_YES, ANSWER_NO, ANSWER_INVALID };
enum { COPY_READ_FAILED = -1, COPY_WRITE_FAILED = -2 };

// Root extracts as itself, so every new entry is owned by 0:0, and leaves the
// owner and mode of directories that were already there alone.
const char EXTRACT_COMMAND_ROOT[] = "tar --no-same-owner --no-overwrite-dir -xf -";
const char EXTRACT_COMMAND[] = "tar -xf -";
const char LIST_COMMAND[] = "tar -tvf -";

// Only the first character of the line counts; the rest is discarded.
answer read_answer()
{
    const int first = getchar();
    if (first != '\n' && first != EOF) {
        int c;
        do
            c = getchar();
        while (c != '\n' && c != EOF);
    }
    if (first == 'n' || first == 'N')
        return ANSWER_NO;
    if (first == 'y' || first == 'Y' || first == '\n')
        return ANSWER_YES;
    return ANSWER_INVALID;
}

int answer_result(answer given)
{
    return given == ANSWER_YES ? 0 : 1;
}

// Copies the stream from its position to its end; read failures are
// reported with the caller's fixed text, write failures too unless it has none.
// A meter, when given, follows the copy and is erased before any message.
int copy_stream(FILE *from, FILE *to, const char *read_error, const char *write_error,
                progress_meter *meter = nullptr)
{
    unsigned char buffer[BLOCK_SIZE];
    while (!feof(from)) {
        const size_t got = fread(buffer, 1, BLOCK_SIZE, from);
        if (got < BLOCK_SIZE && ferror(from)) {
            if (meter != nullptr)
                meter->erase();
            fputs(read_error, stderr);
            return COPY_READ_FAILED;
        }
        if (fwrite(buffer, 1, got, to) < got) {
            if (meter != nullptr)
                meter->erase();
            if (write_error != nullptr)
                fputs(write_error, stderr);
            return COPY_WRITE_FAILED;
        }
        if (meter != nullptr)
            meter->advance(got);
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
    if (fseeko(to, 0, SEEK_END) != 0) {
        fputs(write_error, stderr);
        return COPY_WRITE_FAILED;
    }
    if (fseeko(from, from_offset, SEEK_SET) != 0) {
        fputs(read_error, stderr);
        return COPY_READ_FAILED;
    }
    clearerr(from);
    return copy_stream(from, to, read_error, write_error);
}

// pclose's status, told apart: a failed wait has an errno, a failed tar has an exit status.
int report_tar_status(int status)
{
    if (status == -1) {
        perror("Close tar pipe error");
        return -1;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 0;
    if (WIFSIGNALED(status))
        fprintf(stderr, "Close tar pipe error: tar killed by signal %d\n", WTERMSIG(status));
    else
        fprintf(stderr, "Close tar pipe error: tar exited with status %d\n", WEXITSTATUS(status));
    return -1;
}

// Root runs the script it finds in the target, so nobody but the running user
// and root may own or write it; group write is trusted for the user's own
// group only (root's: group 0).
bool target_trusted(const char *target_dir, const struct stat &dir)
{
    const uid_t user = geteuid();
    const gid_t group = user == 0 ? 0 : getegid();
    if (dir.st_uid != user && dir.st_uid != 0)
        fprintf(stderr, "Refusing target directory %s: it is owned by uid %lu\n", target_dir,
                static_cast<unsigned long>(dir.st_uid));
    else if ((dir.st_mode & S_IWOTH) != 0)
        fprintf(stderr, "Refusing target directory %s: it is writable by others\n", target_dir);
    else if ((dir.st_mode & S_IWGRP) != 0 && dir.st_gid != group)
        fprintf(stderr, "Refusing target directory %s: it is writable by group %lu\n", target_dir,
                static_cast<unsigned long>(dir.st_gid));
    else
        return true;
    return false;
}

// Checked and entered through one descriptor: what was checked is what tar
// fills and the script runs in, whatever later happens to the name. A link is
// not followed, even named with a trailing slash: whoever can write its
// directory chooses where it points.
int enter_target(const char *target_dir)
{
    size_t length = strlen(target_dir);
    while (length > 1 && target_dir[length - 1] == '/')
        --length;
    char *name = strndup(target_dir, length);
    if (name == nullptr) {
        perror("Cannot allocate memory for installation directory string");
        return -1;
    }
    const int fd = open(name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    free(name);
    if (fd < 0) {
        fprintf(stderr, "Cannot chdir to %s: %s\n", target_dir, strerror(errno));
        return -1;
    }
    struct stat dir;
    int result = -1;
    if (fstat(fd, &dir) != 0)
        fprintf(stderr, "Cannot stat %s: %s\n", target_dir, strerror(errno));
    else if (S_ISLNK(dir.st_mode))
        fprintf(stderr, "Refusing target directory %s: it is a symbolic link\n", target_dir);
    else if (!S_ISDIR(dir.st_mode))
        fprintf(stderr, "Cannot chdir to %s: %s\n", target_dir, strerror(ENOTDIR));
    else if (target_trusted(target_dir, dir)) {
        result = fchdir(fd);
        if (result != 0)
            fprintf(stderr, "Cannot chdir to %s: %s\n", target_dir, strerror(errno));
    }
    close(fd);
    return result;
}

FILE *open_tar_pipe(int tar_action, const char *tar_command, const char *target_dir)
{
    const char *command;
    switch (tar_action) {
    case TAR_EXTRACT:
        if (mkdir(target_dir, 0755) != 0 && errno != EEXIST) {
            fprintf(stderr, "Cannot mkdir %s: %s\n", target_dir, strerror(errno));
            return nullptr;
        }
        if (enter_target(target_dir) != 0)
            return nullptr;
        command = getuid() == 0 ? EXTRACT_COMMAND_ROOT : EXTRACT_COMMAND;
        break;
    case TAR_LIST:
        command = LIST_COMMAND;
        break;
    case TAR_CUSTOM:
        command = tar_command;
        break;
    default:
        fputs("Unknown tar action\n", stderr);
        return nullptr;
    }
    // Announced before tar starts, so that its messages follow the line.
    if (tar_action == TAR_EXTRACT)
        printf("Uncompressing in %s...\n", target_dir);
    flush_stdout();
    FILE *pipe = popen(command, "w");
    if (pipe == nullptr) {
        perror("Open tar pipe error");
        return nullptr;
    }
    static char pipe_buffer[STREAM_BUFFER_SIZE];
    setvbuf(pipe, pipe_buffer, _IOFBF, sizeof pipe_buffer);
    // A larger pipe wakes tar less often; the default capacity still works.
    fcntl(fileno(pipe), F_SETPIPE_SZ, 1 << 20);
    return pipe;
}

// The bytes a pass from offset to the end of file will see; 0 (no meter) when unknown.
uint64_t bytes_after(FILE *stream, uint64_t offset)
{
    struct stat file_stat;
    if (fstat(fileno(stream), &file_stat) != 0 || static_cast<uint64_t>(file_stat.st_size) <= offset)
        return 0;
    return static_cast<uint64_t>(file_stat.st_size) - offset;
}

int hash_stream(FILE *stream, unsigned char digest[DIGEST_SIZE], progress_meter *meter)
{
    hash_state md;
    unsigned char buffer[BLOCK_SIZE];
    md5_init(&md);
    while (!feof(stream)) {
        const size_t got = fread(buffer, 1, BLOCK_SIZE, stream);
        if (got == 0 && feof(stream))
            break;
        if (got < BLOCK_SIZE && ferror(stream)) {
            if (meter != nullptr)
                meter->erase();
            fputs("Read file error\n", stderr);
            return -1;
        }
        md5_process(&md, buffer, static_cast<unsigned long>(got));
        if (meter != nullptr)
            meter->advance(got);
    }
    md5_done(&md, digest);
    return 0;
}

int write_le64(uint64_t value, FILE *to)
{
    unsigned char bytes[8];
    for (unsigned char &byte : bytes) {
        byte = static_cast<unsigned char>(value & 0xFF);
        value >>= 8;
    }
    return fwrite(bytes, 1, sizeof bytes, to) == sizeof bytes ? 0 : -1;
}

// The parts of an installer image behind the launcher's own bytes.
int write_payload(FILE *tar, uint64_t tar_size, FILE *installer, const char *installer_name)
{
    if (write_le64(tar_size, installer) != 0) {
        perror("Archive size write error");
        return -1;
    }
    unsigned char digest[DIGEST_SIZE];
    if (calc_md5_sum(tar, digest) != 0)
        return -1;
    if (fwrite(digest, 1, DIGEST_SIZE, installer) < DIGEST_SIZE) {
        perror("MD5sum write error");
        return -1;
    }
    // The header reaches the file before the tar is appended behind it.
    if (fflush(installer) != 0) {
        fprintf(stderr, "Cannot write %s: %s\n", installer_name, strerror(errno));
        return -1;
    }
    return append_file(tar, installer, "Read tar error\n", "Write to installer error\n");
}

// The tar file is read twice and must not be the file being replaced.
int check_tar_file(int tar_fd, const char *tar_name, const char *installer_name, uint64_t *tar_size)
{
    struct stat tar_stat;
    if (fstat(tar_fd, &tar_stat) != 0) {
        fprintf(stderr, "Cannot stat %s: %s\n", tar_name, strerror(errno));
        return -1;
    }
    if (!S_ISREG(tar_stat.st_mode)) {
        fprintf(stderr, "Tar file %s is not a regular file\n", tar_name);
        return -1;
    }
    struct stat installer_stat;
    if (stat(installer_name, &installer_stat) == 0 && installer_stat.st_dev == tar_stat.st_dev
        && installer_stat.st_ino == tar_stat.st_ino) {
        fprintf(stderr, "Installer %s and tar file %s are the same file\n", installer_name, tar_name);
        return -1;
    }
    *tar_size = static_cast<uint64_t>(tar_stat.st_size);
    return 0;
}

int write_installer(FILE *own_stream, FILE *installer, const char *installer_name,
                    const char *tar_name)
{
    // Without O_NONBLOCK, opening a FIFO would wait for a writer before
    // its type could be refused.
    const int tar_fd = open(tar_name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (tar_fd < 0) {
        fprintf(stderr, "Cannot open %s: %s\n", tar_name, strerror(errno));
        return -1;
    }
    uint64_t tar_size = 0;
    if (check_tar_file(tar_fd, tar_name, installer_name, &tar_size) != 0) {
        close(tar_fd);
        return -1;
    }
    fcntl(tar_fd, F_SETFL, fcntl(tar_fd, F_GETFL) & ~O_NONBLOCK);
    FILE *tar = fdopen(tar_fd, "r");
    if (tar == nullptr) {
        fprintf(stderr, "Cannot open %s: %s\n", tar_name, strerror(errno));
        close(tar_fd);
        return -1;
    }
    static char tar_buffer[STREAM_BUFFER_SIZE];
    setvbuf(tar, tar_buffer, _IOFBF, sizeof tar_buffer);
    int result = append_file(own_stream, installer, "Read launcher error\n",
                             "Write installer file error\n");
    if (result == 0)
        result = write_payload(tar, tar_size, installer, installer_name);
    fclose(tar);
    return result;
}

// Flushing and closing reveal what the writes could not (a full disk).
int close_installer(FILE *installer, const char *installer_name)
{
    if (fchmod(fileno(installer), 0755) != 0) {
        fprintf(stderr, "Cannot chmod 0755 %s: %s\n", installer_name, strerror(errno));
        fclose(installer);
        return -1;
    }
    // On disk before the rename: a crash then leaves the old image or the new one.
    if (fflush(installer) != 0 || ferror(installer) || fsync(fileno(installer)) != 0) {
        fprintf(stderr, "Cannot write %s: %s\n", installer_name, strerror(errno));
        fclose(installer);
        return -1;
    }
    if (fclose(installer) != 0) {
        fprintf(stderr, "Cannot write %s: %s\n", installer_name, strerror(errno));
        return -1;
    }
    return 0;
}

// The rename itself lasts only once the directory holding the name is on disk.
int sync_directory_of(const char *installer_name)
{
    const char *slash = strrchr(installer_name, '/');
    const size_t length = slash == nullptr ? 0 : slash == installer_name ? 1 : slash - installer_name;
    char *dir = length == 0 ? strdup(".") : strndup(installer_name, length);
    if (dir == nullptr) {
        perror("Cannot allocate memory for installer name");
        return -1;
    }
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int result = 0;
    // EINVAL: a file system that has no way to sync a directory.
    if (fd < 0 || (fsync(fd) != 0 && errno != EINVAL)) {
        fprintf(stderr, "Cannot write %s: %s\n", installer_name, strerror(errno));
        result = -1;
    }
    if (fd >= 0)
        close(fd);
    free(dir);
    return result;
}

} // namespace

uint64_t size_b_to_kb(uint64_t size)
{
    return (size + 1023) / 1024;
}

int read_payload_header(FILE *stream, int64_t elf_end, payload_header *header)
{
    unsigned char size_field[8];
    // An end no seek reaches lies past the end of the file: no header there.
    if (fseeko(stream, static_cast<off_t>(elf_end), SEEK_SET) != 0
        || fread(size_field, 1, sizeof size_field, stream) < sizeof size_field) {
        fputs("Archive size read error\n", stderr);
        return -1;
    }
    header->archive_size = 0;
    for (int i = 7; i >= 0; --i)
        header->archive_size = (header->archive_size << 8) | size_field[i];
    if (fread(header->digest, 1, DIGEST_SIZE, stream) < DIGEST_SIZE) {
        fputs("Archive checksum read error\n", stderr);
        return -1;
    }
    return 0;
}

int calc_md5_sum(FILE *stream, unsigned char digest[DIGEST_SIZE])
{
    return hash_stream(stream, digest, nullptr);
}

int check_tar(FILE *stream, uint64_t archive_offset, const unsigned char digest[DIGEST_SIZE])
{
    if (fseeko(stream, static_cast<off_t>(archive_offset), SEEK_SET) != 0) {
        perror("Seek to tar error");
        return -1;
    }
    unsigned char computed[DIGEST_SIZE];
    progress_meter meter(bytes_after(stream, archive_offset));
    if (hash_stream(stream, computed, &meter) != 0)
        return -1;
    meter.erase();
    return memcmp(digest, computed, DIGEST_SIZE);
}

int ask_tar_run(uint64_t archive_size, const char *target_dir)
{
    const unsigned long long kilobytes = size_b_to_kb(archive_size);
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        printf("About to extract %llu KB in %s ... Proceed? [y/n] ", kilobytes, target_dir);
        flush_stdout();
        const answer given = read_answer();
        if (given != ANSWER_INVALID)
            return answer_result(given);
    }
    return -1;
}

int ask_installer_run(char *const *script_args)
{
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        fputs("OK to execute: install.sh ", stdout);
        for (char *const *arg = script_args; arg != nullptr && *arg != nullptr; ++arg)
            printf("%s ", *arg);
        fputs("? [y/n] ", stdout);
        flush_stdout();
        const answer given = read_answer();
        if (given != ANSWER_INVALID)
            return answer_result(given);
    }
    return -1;
}

int run_tar(FILE *stream, uint64_t archive_offset, int tar_action, const char *tar_command,
            const char *target_dir)
{
    FILE *pipe = open_tar_pipe(tar_action, tar_command, target_dir);
    if (pipe == nullptr)
        return -1;
    if (fseeko(stream, static_cast<off_t>(archive_offset), SEEK_SET) != 0) {
        perror("Seek to tar error");
        pclose(pipe);
        return -1;
    }
    // A tar that stops reading early must not end the launcher silently
    // (tar itself was started with the default handler).
    signal(SIGPIPE, SIG_IGN);
    // Listings and custom commands write to the terminal themselves.
    progress_meter meter(tar_action == TAR_EXTRACT ? bytes_after(stream, archive_offset) : 0);
    int copied = copy_stream(stream, pipe, "Read tar error\n", nullptr, &meter);
    if (copied == 0 && fflush(pipe) != 0)
        copied = COPY_WRITE_FAILED;
    const int write_errno = errno;
    // Gone before tar's last messages, which start on a clean line.
    meter.erase();
    const int status = pclose(pipe);
    signal(SIGPIPE, SIG_DFL);
    if (copied == COPY_READ_FAILED)
        return -1;
    if (copied == COPY_WRITE_FAILED) {
        // A tar that failed and closed its end says why in its status.
        if (write_errno == EPIPE && report_tar_status(status) != 0)
            return -1;
        fputs("Write to tar pipe error\n", stderr);
        return -1;
    }
    return report_tar_status(status);
}

int run_installer(char *const *script_args)
{
    size_t count = 0;
    while (script_args != nullptr && script_args[count] != nullptr)
        ++count;
    char **argv = static_cast<char **>(calloc(count + 3, sizeof(char *)));
    if (argv == nullptr) {
        perror("Script argv allocation");
        return -1;
    }
    argv[0] = const_cast<char *>("sh");
    argv[1] = const_cast<char *>("./install.sh");
    for (size_t i = 0; i < count; ++i)
        argv[i + 2] = script_args[i];
    flush_stdout();
    execv("/bin/sh", argv);
    perror("Cannot exec install.sh");
    free(argv);
    return -1;
}

// The image is written beside the installer name and renamed over it only
// when complete, so a failed build leaves any earlier installer untouched.
int create_installer(FILE *own_stream, const char *installer_name, const char *tar_name)
{
    const size_t name_len = strlen(installer_name);
    char *temp_name = static_cast<char *>(malloc(name_len + sizeof ".XXXXXX"));
    if (temp_name == nullptr) {
        perror("Cannot allocate memory for installer name");
        return -1;
    }
    memcpy(temp_name, installer_name, name_len);
    memcpy(temp_name + name_len, ".XXXXXX", sizeof ".XXXXXX");
    const int fd = mkstemp(temp_name);
    FILE *installer = fd < 0 ? nullptr : fdopen(fd, "w");
    if (installer == nullptr) {
        fprintf(stderr, "Cannot open %s: %s\n", installer_name, strerror(errno));
        if (fd >= 0) {
            close(fd);
            unlink(temp_name);
        }
        free(temp_name);
        return -1;
    }
    static char installer_buffer[STREAM_BUFFER_SIZE];
    setvbuf(installer, installer_buffer, _IOFBF, sizeof installer_buffer);
    int result = write_installer(own_stream, installer, installer_name, tar_name);
    if (result != 0)
        fclose(installer);
    else
        result = close_installer(installer, installer_name);
    if (result == 0 && rename(temp_name, installer_name) != 0) {
        fprintf(stderr, "Cannot replace %s: %s\n", installer_name, strerror(errno));
        result = -1;
    }
    if (result != 0)
        unlink(temp_name);
    else
        result = sync_directory_of(installer_name);
    free(temp_name);
    return result;
}

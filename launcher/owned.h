// Resources that release themselves: heap memory, a stdio stream, a file
// descriptor, and a temporary file removed unless its rename commits it, also
// when an interrupt ends the run.
#ifndef VORLAN_OWNED_H
#define VORLAN_OWNED_H

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>

struct free_deleter {
    void operator()(void *memory) const { free(memory); }
};
// A string from malloc or strdup.
using heap_string = std::unique_ptr<char, free_deleter>;

struct fclose_deleter {
    void operator()(FILE *stream) const { fclose(stream); }
};
// Closed unchecked on the way out of a failure; a caller that must know
// whether the close wrote everything calls fclose(stream.release()).
using file_stream = std::unique_ptr<FILE, fclose_deleter>;

// The stdio buffer given to a stream that is read or written in passes of
// blocks: one system call per 128 KiB instead of one per block.
constexpr size_t STREAM_BUFFER_SIZE = 128 * 1024;

class file_descriptor {
public:
    explicit file_descriptor(int fd = -1) : fd_(fd) {}
    file_descriptor(file_descriptor &&other) noexcept : fd_(other.release()) {}
    file_descriptor(const file_descriptor &) = delete;
    file_descriptor &operator=(const file_descriptor &) = delete;
    ~file_descriptor();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Hands the descriptor over, to a stream for instance.
    int release();

private:
    int fd_;
};

// A file created from a mkstemp template ("NAME.XXXXXX") beside its final
// name. One at a time: an interrupt removes the one that exists.
class temporary_file {
public:
    explicit temporary_file(heap_string path_template) : path_(std::move(path_template)) {}
    temporary_file(const temporary_file &) = delete;
    temporary_file &operator=(const temporary_file &) = delete;
    ~temporary_file();

    // The new file's descriptor, or -1 with errno set.
    int create();
    // Renames the file over final_name; 0, or -1 with errno set and the file still to remove.
    int commit(const char *final_name);

private:
    heap_string path_;
    bool exists_ = false;
};

#endif

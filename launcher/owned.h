// Resources that release themselves: heap memory, a stdio stream, a file
// descriptor, and a temporary file removed unless its rename commits it, also
// when an interrupt ends the run.
//
// The launcher links the C library alone (no C++ library is built for
// musl), so the few pieces of <memory>, <utility> and <string_view> it used
// are here, as small as the launcher needs them.
#ifndef VORLAN_OWNED_H
#define VORLAN_OWNED_H

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>

// An rvalue of value, to move it: std::move.
template <class T>
constexpr T &&moved(T &value) noexcept
{
    return static_cast<T &&>(value);
}

// Sole owner of a T, released by Release (a function object) unless
// handed on: std::unique_ptr without arrays or custom pointer types.
template <class T, class Release>
class owned {
public:
    constexpr owned() = default;
    constexpr owned(decltype(nullptr)) {}
    explicit owned(T *pointer) : pointer_(pointer) {}
    owned(owned &&other) noexcept : pointer_(other.release()) {}
    owned &operator=(owned &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    owned(const owned &) = delete;
    owned &operator=(const owned &) = delete;
    ~owned() { reset(nullptr); }

    T *get() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    bool operator==(decltype(nullptr)) const { return pointer_ == nullptr; }
    bool operator!=(decltype(nullptr)) const { return pointer_ != nullptr; }
    // Hands the pointer over; the caller releases it.
    T *release()
    {
        T *pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }
    void reset(T *pointer)
    {
        if (pointer_ != nullptr)
            Release()(pointer_);
        pointer_ = pointer;
    }

private:
    T *pointer_ = nullptr;
};

// Characters that another owns: std::string_view's part the launcher uses.
struct text_view {
    const char *data;
    size_t size;
};

struct free_deleter {
    void operator()(void *memory) const { free(memory); }
};
// A string from malloc or strdup.
using heap_string = owned<char, free_deleter>;

struct fclose_deleter {
    void operator()(FILE *stream) const { fclose(stream); }
};
// Closed unchecked on the way out of a failure; a caller that must know
// whether the close wrote everything calls fclose(stream.release()).
using file_stream = owned<FILE, fclose_deleter>;

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
    explicit temporary_file(heap_string path_template) : path_(moved(path_template)) {}
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

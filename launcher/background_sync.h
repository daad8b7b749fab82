// A file's data on its way to the disk while this process does other work.
#ifndef VORLAN_BACKGROUND_SYNC_H
#define VORLAN_BACKGROUND_SYNC_H

class background_sync {
public:
    background_sync() = default;
    // Waits for a sync still running: the kernel cannot cancel one.
    ~background_sync();
    background_sync(const background_sync &) = delete;
    background_sync &operator=(const background_sync &) = delete;

    // Asks the kernel to sync fd's data now and to let this process go on.
    // Where it cannot take the request (no asynchronous I/O, its limit
    // reached), nothing starts and the caller's own fsync does all the work.
    // Once per object.
    void start(int fd);
    // 0 when the sync succeeded or never started, otherwise its errno. A
    // failure is told once: a later fsync of the same open file returns 0.
    int wait();

private:
    unsigned long context_ = 0;  // the kernel's aio_context_t
    bool running_ = false;
};

#endif

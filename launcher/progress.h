// A sign of life on long work, for a person at a terminal: the share done and
// the rate, drawn at the cursor and erased without a trace. Where standard
// output is not a terminal, or the work ends before anyone would wait for it,
// nothing is written at all.
#ifndef VORLAN_PROGRESS_H
#define VORLAN_PROGRESS_H

#include <stdint.h>

// Blanks what the display shows now; async-signal-safe, for a signal handler.
void erase_progress_now();

class progress_meter {
public:
    // Standard output's buffer must be empty: the meter writes to the
    // descriptor directly, so that it never leaves bytes behind in the stream.
    explicit progress_meter(uint64_t total);
    ~progress_meter() { erase(); }
    progress_meter(const progress_meter &) = delete;
    progress_meter &operator=(const progress_meter &) = delete;

    // Called after every block; looks at the clock only once per mebibyte.
    void advance(uint64_t bytes)
    {
        done_ += bytes;
        if (done_ >= next_look_)
            look();
    }
    // Blanks what was drawn and leaves the cursor where it found it; nothing
    // is drawn afterwards. Call it before anything else is printed. One
    // terminal shows one meter at a time.
    void erase();

private:
    void look();
    void draw(int64_t now);

    uint64_t total_;
    uint64_t done_ = 0;
    uint64_t next_look_;
    int64_t start_ = 0;
    int64_t next_draw_ = 0;
};

#endif

#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace {

constexpr int64_t NS_PER_SECOND = 1000000000;
// Nothing shows for work done within half a second; then four updates a second.
constexpr int64_t FIRST_DRAW_AFTER = NS_PER_SECOND / 2;
constexpr int64_t DRAW_EVERY = NS_PER_SECOND / 4;
constexpr uint64_t LOOK_EVERY = 1024 * 1024;
constexpr uint64_t NEVER = UINT64_MAX;
// "Verifying archive integrity... " and the widest figure, " 100% 99999 MB/s",
// must fit on one line, or the backspaces could not reach the start again.
constexpr unsigned MIN_COLUMNS = 48;
enum { TEXT_SIZE = 32 };

// Characters the display shows at the cursor, for erase and for a signal
// handler; never fewer than are on the screen.
volatile sig_atomic_t on_screen;

int64_t now_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * NS_PER_SECOND + ts.tv_nsec;
}

bool terminal_wants_progress()
{
    if (!isatty(STDOUT_FILENO))
        return false;
    const char *term = getenv("TERM");
    if (term == nullptr || *term == '\0' || strcmp(term, "dumb") == 0)
        return false;
    winsize size;
    // A terminal that does not know its width (0) is given the benefit of the doubt.
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0
        || size.ws_col >= MIN_COLUMNS;
}

// The whole buffer, or false; the display is only a courtesy, so a terminal
// that refuses it ends the display and never the run.
bool write_all(const char *text, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(STDOUT_FILENO, text, size);
        if (written <= 0)
            return false;
        text += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Spaces over what is shown and as many backspaces; async-signal-safe.
void blank_display()
{
    const int shown = on_screen;
    if (shown <= 0)
        return;
    char line[2 * TEXT_SIZE];
    memset(line, ' ', static_cast<size_t>(shown));
    memset(line + shown, '\b', static_cast<size_t>(shown));
    write_all(line, static_cast<size_t>(2 * shown));
    // Only now: an interrupt meanwhile blanks the same characters again, harmlessly.
    on_screen = 0;
}

} // namespace

void erase_progress_now()
{
    blank_display();
}

progress_meter::progress_meter(uint64_t total) : total_(total), next_look_(NEVER)
{
    if (total_ == 0 || !terminal_wants_progress())
        return;
    start_ = now_ns();
    next_draw_ = start_ + FIRST_DRAW_AFTER;
    next_look_ = LOOK_EVERY;
}

void progress_meter::look()
{
    next_look_ = done_ + LOOK_EVERY;
    const int64_t now = now_ns();
    if (now >= next_draw_)
        draw(now);
}

// The text, spaces over whatever longer text was there, and as many
// backspaces, so that the cursor stays where the display began.
void progress_meter::draw(int64_t now)
{
    next_draw_ = now + DRAW_EVERY;
    const uint64_t done = done_ < total_ ? done_ : total_;
    const unsigned percent = static_cast<unsigned>(done * 100 / total_);
    const uint64_t elapsed_ms = static_cast<uint64_t>(now - start_) / 1000000;
    const unsigned long long rate = elapsed_ms == 0 ? 0 : done_ * 1000 / elapsed_ms / (1024 * 1024);
    char line[2 * TEXT_SIZE];
    const int length = snprintf(line, TEXT_SIZE, "%3u%% %llu MB/s", percent, rate);
    if (length < 0 || length >= TEXT_SIZE)
        return;
    const int covered = length > on_screen ? length : on_screen;
    memset(line + length, ' ', static_cast<size_t>(covered - length));
    memset(line + covered, '\b', static_cast<size_t>(covered));
    on_screen = covered;
    if (!write_all(line, static_cast<size_t>(2 * covered))) {
        next_look_ = NEVER;
        on_screen = 0;
        return;
    }
    on_screen = length;
}

void progress_meter::erase()
{
    next_look_ = NEVER;
    blank_display();
}

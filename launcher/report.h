// Every message of the launcher, and the state of standard output.
#ifndef VORLAN_REPORT_H
#define VORLAN_REPORT_H

#include <stdint.h>
#include <stdio.h>

// What a reporting function returns, so that a caller ends with `return report(...)`.
constexpr int FAILURE = -1;

// strerror(0) reads "Success": the text of a read that came up short at the
// end of a file, where no system call failed.
constexpr int NO_SYSTEM_ERROR = 0;

// Messages go to standard error unless another stream is given (tests do).
void report_to(FILE *stream);

// The formatted text, newline included; FAILURE.
[[gnu::format(printf, 1, 2)]] int report(const char *format, ...);

// "context: <text of error>" and a newline; FAILURE.
int report_error(const char *context, int error);
int report_errno(const char *context);

// "<failed> <name>: <text of error>", for a call that failed on a named file.
int report_file_error(const char *failed, const char *name, int error);

// A size as the messages and questions show it: kilobytes, rounded up.
constexpr uint64_t size_b_to_kb(uint64_t size)
{
    return (size + 1023) / 1024;
}

// Gives stdout a buffer of 4 KiB, line-buffered on a terminal: every text
// the launcher prints between two flushes fits, so that a failed write
// shows at the flush, with its cause. Called before any output.
void buffer_stdout();

// Flushes stdout, remembering why the first failed flush failed.
void flush_stdout();

// Flushes stdout; FAILURE when anything written to it was lost (a full disk,
// a closed pipe), reported once with the first failure's cause.
int check_stdout();

// Output that could not be written turns success into failure: the status to exit with.
int finish_output(int status);

#endif

#include "report.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

FILE *report_stream;

// Why standard output first failed; later calls overwrite errno.
int stdout_errno;
bool stdout_failure_reported;

FILE *reports()
{
    return report_stream != nullptr ? report_stream : stderr;
}

} // namespace

void report_to(FILE *stream)
{
    report_stream = stream;
}

// One call writes each message whole: stderr is unbuffered.
int report(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(reports(), format, args);
    va_end(args);
    return FAILURE;
}

int report_error(const char *context, int error)
{
    return report("%s: %s\n", context, strerror(error));
}

int report_errno(const char *context)
{
    return report_error(context, errno);
}

int report_file_error(const char *failed, const char *name, int error)
{
    return report("%s %s: %s\n", failed, name, strerror(error));
}

void flush_stdout()
{
    if (fflush(stdout) != 0 && stdout_errno == 0)
        stdout_errno = errno;
}

int check_stdout()
{
    flush_stdout();
    if (!ferror(stdout))
        return 0;
    if (stdout_failure_reported)
        return FAILURE;
    stdout_failure_reported = true;
    if (stdout_errno != 0)
        return report("Write error on standard output: %s\n", strerror(stdout_errno));
    return report("Write error on standard output\n");
}

int finish_output(int status)
{
    if (check_stdout() != 0 && status == 0)
        return 255;
    return status;
}

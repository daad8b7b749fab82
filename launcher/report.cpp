#include "report.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

FILE *report_stream;

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

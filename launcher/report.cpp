#include "report.h"

#include <errno.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

namespace {

FILE *report_stream;

// Why standard output first failed; later calls overwrite errno.
int stdout_errno;
bool stdout_failure_reported;

FILE *reports()
{
    return report_stream != nullptr ? report_stream : stderr;
}

// The texts the launcher has always printed, from the GNU C library, where
// musl words them otherwise: the errors that files, pipes, children and
// memory can give. The rest read the same in both.
const char *error_text(int error)
{
    switch (error) {
    case 0: return "Success";
    case EIO: return "Input/output error";
    case ECHILD: return "No child processes";
    case ENOMEM: return "Cannot allocate memory";
    case EBUSY: return "Device or resource busy";
    case EXDEV: return "Invalid cross-device link";
    case EMFILE: return "Too many open files";
    case ENOTTY: return "Inappropriate ioctl for device";
    case ESPIPE: return "Illegal seek";
    case ERANGE: return "Numerical result out of range";
    case EDEADLK: return "Resource deadlock avoided";
    case ENAMETOOLONG: return "File name too long";
    case ELOOP: return "Too many levels of symbolic links";
    case EOVERFLOW: return "Value too large for defined data type";
    case EILSEQ: return "Invalid or incomplete multibyte or wide character";
    case EOPNOTSUPP: return "Operation not supported";
    case ETIMEDOUT: return "Connection timed out";
    case EDQUOT: return "Disk quota exceeded";
    case EUCLEAN: return "Structure needs cleaning";
    default: return strerror(error);
    }
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
    return report("%s: %s\n", context, error_text(error));
}

int report_errno(const char *context)
{
    return report_error(context, errno);
}

int report_file_error(const char *failed, const char *name, int error)
{
    return report("%s %s: %s\n", failed, name, error_text(error));
}

void buffer_stdout()
{
    static char buffer[4096];
    setvbuf(stdout, buffer, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, sizeof buffer);
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
        return report("Write error on standard output: %s\n", error_text(stdout_errno));
    return report("Write error on standard output\n");
}

int finish_output(int status)
{
    if (check_stdout() != 0 && status == 0)
        return 255;
    return status;
}

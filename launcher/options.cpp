#include "options.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <libgen.h>  // last: its basename is the POSIX one

namespace {

const char VERSION[] = "0.0.2";
enum { PATH_BUFFER_SIZE = 4096 };

enum option_number {
    OPT_VERSION = 1,
    OPT_HELP = 2,
    OPT_LIST = 3,
    OPT_TAR = 4,
    OPT_INFO = 5,
    OPT_CHECK = 6,
    OPT_CONFIRM = 7,
    OPT_NOEXEC = 8,
    OPT_TARGET = 9,
    OPT_CREATE = 10,
};

// getopt_long stores the number of the long option it found here and returns 0.
int long_option;

// Why standard output first failed; later calls overwrite errno.
int stdout_errno;

const struct option RUN_OPTIONS[] = {
    {"version", no_argument, &long_option, OPT_VERSION},
    {"help", no_argument, &long_option, OPT_HELP},
    {"list", no_argument, &long_option, OPT_LIST},
    {"tar", required_argument, &long_option, OPT_TAR},
    {"info", no_argument, &long_option, OPT_INFO},
    {"check", no_argument, &long_option, OPT_CHECK},
    {"confirm", no_argument, &long_option, OPT_CONFIRM},
    {"noexec", no_argument, &long_option, OPT_NOEXEC},
    {"target", required_argument, &long_option, OPT_TARGET},
    {nullptr, 0, nullptr, 0},
};

const struct option CREATE_OPTIONS[] = {
    {"version", no_argument, &long_option, OPT_VERSION},
    {"help", no_argument, &long_option, OPT_HELP},
    {"create", required_argument, &long_option, OPT_CREATE},
    {nullptr, 0, nullptr, 0},
};

void show_help(const char *prog_name)
{
    printf("1. Get help or info about %s:\n", prog_name);
    puts(" --help     show this help on switches");
    puts(" --info     show extended information on the package:");
    puts("            title, default target directory, embedded script, etc.");
    puts(" --list     show the list of files in the installation package");
    puts(" --check    check integrity of the installation package");
    puts("");
    printf("2. Run %s:\n", prog_name);
    printf(" %s [options] [--] [additional arguments to embedded script]\n", prog_name);
    puts(" with the following options (in this order)");
    puts(" --confirm    ask before running embedded script");
    puts(" --noexec     do not run embedded script");
    puts(" --target <directory>    extract the installation package to the <directory>");
    puts(" --tar <arg1> [<arg2> ...]    access the package content via the tar command");
    puts(" --    the following arguments will be passed to the embedded script");
}

void show_help_create(const char *prog_name)
{
    printf("Usage: %s --create <INSTALLER_NAME> <TAR_FILE>\n", prog_name);
}

void show_version()
{
    printf("Vorlan Installer %s\n", VERSION);
}

// "tar ", the first argument, " -", then every remaining word after a blank.
int build_tar_command(int argc, char **argv, launcher_options *options)
{
    options->tar_action = TAR_CUSTOM;
    const int words = argc - optind;
    size_t size = 4 + strlen(optarg) + 2 + 1;
    for (int i = 0; i < words; ++i)
        size += 1 + strlen(argv[optind + i]);

    char *command = static_cast<char *>(malloc(size));
    if (command == nullptr) {
        perror("Cannot allocate memory for tar command");
        return -1;
    }
    int used = snprintf(command, size, "tar %s -", optarg);
    for (int i = 0; i < words; ++i)
        used += snprintf(command + used, size - used, " %s", argv[optind + i]);
    optind += words;
    options->tar_command = command;
    return 0;
}

// The words after "--" become the embedded script's arguments.
int copy_script_args(int argc, char **argv, launcher_options *options)
{
    const int first = optind;
    char **args = static_cast<char **>(calloc(argc - first + 1, sizeof(char *)));
    if (args == nullptr) {
        perror("Cannot allocate memory for installation argument vector");
        return -1;
    }
    options->script_args = args;
    for (int i = first; i < argc; ++i, ++optind) {
        args[i - first] = strdup(argv[i]);
        if (args[i - first] == nullptr) {
            perror("strdup error for installation argument vector");
            return -1;
        }
    }
    return 0;
}

int parse_leftover_words(int argc, char **argv, launcher_options *options)
{
    const int i = optind;
    if (i == argc)
        return 0;
    if (i == 1 || strcmp(argv[i - 1], "--") != 0) {
        fprintf(stderr, "Unknown argument %s\n", argv[i]);
        return -1;
    }
    return copy_script_args(argc, argv, options);
}

// One option of the run-mode table: 1 to go on scanning, 0 or -1 to stop with that result.
int act_on_run_option(int number, int argc, char **argv, launcher_options *options,
                      const char *prog_name)
{
    switch (number) {
    case OPT_VERSION:
        show_version();
        exit_flushed(0);
    case OPT_HELP:
        show_help(prog_name);
        exit_flushed(0);
    case OPT_LIST:
        options->tar_action = TAR_LIST;
        return 0;
    case OPT_TAR:
        return build_tar_command(argc, argv, options);
    case OPT_INFO:
        options->info = 1;
        return 0;
    case OPT_CHECK:
        options->check = 1;
        return 1;
    case OPT_CONFIRM:
        options->confirm = 1;
        return 1;
    case OPT_NOEXEC:
        options->noexec = 1;
        return 1;
    case OPT_TARGET:
        free(options->target_dir);
        options->target_dir = strdup(optarg);
        if (options->target_dir == nullptr) {
            perror("strdup error for target directory");
            return -1;
        }
        return 1;
    default:
        fprintf(stderr, "Unknown number of action option %d\n", number);
        return -1;
    }
}

int scan_run_options(int argc, char **argv, launcher_options *options, const char *prog_name)
{
    for (;;) {
        const int c = getopt_long(argc, argv, "h", RUN_OPTIONS, nullptr);
        if (c == 'h') {
            show_help(prog_name);
            exit_flushed(0);
        }
        if (c == '?')
            return -1;
        if (c == -1)
            return parse_leftover_words(argc, argv, options);
        if (c != 0) {
            fprintf(stderr, "Cannot get option %o\n", static_cast<unsigned>(c));
            return -1;
        }
        const int step = act_on_run_option(long_option, argc, argv, options, prog_name);
        if (step != 1)
            return step;
    }
}

int scan_create_option(int argc, char **argv, launcher_options *options, const char *prog_name)
{
    const int c = getopt_long(argc, argv, "h", CREATE_OPTIONS, nullptr);
    if (c == -1)
        return 0;
    if (c == '?')
        return -1;
    if (c == 'h' || (c == 0 && long_option == OPT_HELP)) {
        show_help_create(prog_name);
        exit_flushed(0);
    }
    if (c != 0) {
        fprintf(stderr, "Cannot get option %o\n", static_cast<unsigned>(c));
        return -1;
    }
    if (long_option == OPT_VERSION) {
        show_version();
        exit_flushed(0);
    }
    if (long_option != OPT_CREATE) {
        fprintf(stderr, "Unknown option %d\n", long_option);
        return -1;
    }
    options->create = 1;
    if (argc - optind <= 0) {
        show_help_create(prog_name);
        return -1;
    }
    options->installer_name = strdup(optarg);
    if (options->installer_name == nullptr) {
        perror("strdup error for installer name");
        return -1;
    }
    options->tar_name = strdup(argv[optind]);
    if (options->tar_name == nullptr) {
        perror("strdup error for tar name");
        return -1;
    }
    ++optind;
    return 0;
}

// Writes dir (its first dir_len characters), "/" and name; a zero length
// leaves the bare name, which then stands for the current directory.
void join_path_prog(char *dest, const char *dir, const char *name, size_t dir_len)
{
    if (dir_len == 0) {
        strcpy(dest, name);
        return;
    }
    memcpy(dest, dir, dir_len);
    dest[dir_len] = '/';
    strcpy(dest + dir_len + 1, name);
}

// Looks the bare name up in PATH the way a shell would; 0 when a candidate is in buffer.
int search_path(const char *name, char *buffer)
{
    const char *path = getenv("PATH");
    if (path == nullptr) {
        fputs("Cannot find PATH env\n", stderr);
        return -1;
    }
    const size_t name_len = strlen(name);
    const char *element = path;
    for (const char *colon; (colon = strchr(element, ':')) != nullptr; element = colon + 1) {
        const size_t element_len = static_cast<size_t>(colon - element);
        if (name_len + element_len + 2 > PATH_BUFFER_SIZE) {
            fprintf(stderr, "Too big PATH %s\n", path);
            return -1;
        }
        join_path_prog(buffer, element, name, element_len);
        if (access(buffer, X_OK) == 0)
            return 0;
    }
    const size_t last_len = strlen(element);
    if (name_len + last_len + 2 > PATH_BUFFER_SIZE) {
        fprintf(stderr, "Too long PATH %s\n", path);
        return -1;
    }
    join_path_prog(buffer, element, name, last_len);
    return 0;
}

} // namespace

void flush_stdout()
{
    if (fflush(stdout) != 0 && stdout_errno == 0)
        stdout_errno = errno;
}

[[noreturn]] void exit_flushed(int status)
{
    exit(finish_output(status));
}

// Output that could not be written turns success into failure (a full disk, a closed pipe).
int finish_output(int status)
{
    flush_stdout();
    if (!ferror(stdout))
        return status;
    if (stdout_errno != 0)
        fprintf(stderr, "Write error on standard output: %s\n", strerror(stdout_errno));
    else
        fputs("Write error on standard output\n", stderr);
    return status == 0 ? 255 : status;
}

char *get_prog_path(const char *argv0)
{
    char buffer[PATH_BUFFER_SIZE];
    if (strchr(argv0, '/') != nullptr) {
        if (strlen(argv0) + 1 > PATH_BUFFER_SIZE) {
            fprintf(stderr, "Too long program name %s\n", argv0);
            return nullptr;
        }
        strcpy(buffer, argv0);
    } else if (search_path(argv0, buffer) != 0) {
        return nullptr;
    }
    if (access(buffer, X_OK) != 0) {
        fprintf(stderr, "Cannot find %s executable\n", argv0);
        return nullptr;
    }
    char *prog_path = strdup(buffer);
    if (prog_path == nullptr)
        perror("strdup error for program path");
    return prog_path;
}

void free_prog_path(char *prog_path)
{
    free(prog_path);
}

char *get_prog_name(const char *argv0)
{
    char *copy = strdup(argv0);
    if (copy == nullptr) {
        perror("strdup error for program path");
        return nullptr;
    }
    char *prog_name = strdup(basename(copy));
    if (prog_name == nullptr)
        perror("strdup error for program name");
    free(copy);
    return prog_name;
}

void free_prog_name(char *prog_name)
{
    free(prog_name);
}

int parse_options(int argc, char **argv, launcher_options *options)
{
    char *prog_name = get_prog_name(argv[0]);
    if (prog_name == nullptr)
        return -1;
    const int result = scan_run_options(argc, argv, options, prog_name);
    free_prog_name(prog_name);
    return result;
}

int parse_options_create(int argc, char **argv, launcher_options *options)
{
    char *prog_name = get_prog_name(argv[0]);
    if (prog_name == nullptr)
        return -1;
    const int result = scan_create_option(argc, argv, options, prog_name);
    free_prog_name(prog_name);
    return result;
}

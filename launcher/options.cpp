#include "options.h"

#include "report.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char VERSION[] = VORLAN_VERSION;  // the project's, from the build

// getopt_long stores the number of the long option it found in long_option and returns 0.
enum option_number : int {
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

int long_option;

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

parse_result show_help(std::string_view prog_name)
{
    const int len = static_cast<int>(prog_name.size());
    const char *name = prog_name.data();
    printf("1. Get help or info about %.*s:\n"
           " --help     show this help on switches\n"
           " --info     show extended information on the package:\n"
           "            title, default target directory, embedded script, etc.\n"
           " --list     show the list of files in the installation package\n"
           " --check    check integrity of the installation package\n"
           "\n"
           "2. Run %.*s:\n"
           " %.*s [options] [--] [additional arguments to embedded script]\n"
           " with the following options (in this order)\n"
           " --confirm    ask before running embedded script\n"
           " --noexec     do not run embedded script\n"
           " --target <directory>    extract the installation package to the <directory>\n"
           " --tar <arg1> [<arg2> ...]    access the package content via the tar command\n"
           " --    the following arguments will be passed to the embedded script\n",
           len, name, len, name, len, name);
    return parse_result::finished;
}

parse_result show_create_usage(std::string_view prog_name)
{
    printf("Usage: %.*s --create <INSTALLER_NAME> <TAR_FILE>\n", static_cast<int>(prog_name.size()),
           prog_name.data());
    return parse_result::finished;
}

parse_result show_version()
{
    printf("Vorlan Installer %s\n", VERSION);
    return parse_result::finished;
}

parse_result failed(int /* the report's FAILURE */)
{
    return parse_result::failed;
}

// --tar ends the scan: "tar ", its argument, " -", then every word after it
// behind a blank.
parse_result take_tar_command(int argc, char **argv, run_options &options)
{
    options.action = tar_action::custom;
    size_t size = sizeof "tar  -" + strlen(optarg);
    for (int i = optind; i < argc; ++i)
        size += 1 + strlen(argv[i]);
    heap_string command(static_cast<char *>(malloc(size)));
    if (command == nullptr)
        return failed(report_errno("Cannot allocate memory for tar command"));
    int used = snprintf(command.get(), size, "tar %s -", optarg);
    for (int i = optind; i < argc; ++i)
        used += snprintf(command.get() + used, size - used, " %s", argv[i]);
    options.tar_command = std::move(command);
    return parse_result::proceed;
}

// Words the scan left over belong to the embedded script, and only behind "--".
parse_result take_script_args(int argc, char **argv, run_options &options)
{
    const int first = optind;
    if (first == argc)
        return parse_result::proceed;
    if (first == 1 || strcmp(argv[first - 1], "--") != 0)
        return failed(report("Unknown argument %s\n", argv[first]));
    options.script_args = argv + first;
    return parse_result::proceed;
}

} // namespace

// --list, --info and --tar end the scan; the other options may come in any order.
parse_result parse_run_options(int argc, char **argv, std::string_view prog_name, run_options &options)
{
    for (;;) {
        const int c = getopt_long(argc, argv, "h", RUN_OPTIONS, nullptr);
        if (c == 'h')
            return show_help(prog_name);
        if (c == '?')
            return parse_result::failed;
        if (c == -1)
            return take_script_args(argc, argv, options);
        if (c != 0)
            return failed(report("Cannot get option %o\n", static_cast<unsigned>(c)));
        switch (long_option) {
        case OPT_VERSION:
            return show_version();
        case OPT_HELP:
            return show_help(prog_name);
        case OPT_LIST:
            options.action = tar_action::list;
            return parse_result::proceed;
        case OPT_TAR:
            return take_tar_command(argc, argv, options);
        case OPT_INFO:
            options.info = true;
            return parse_result::proceed;
        case OPT_CHECK:
            options.check = true;
            break;
        case OPT_CONFIRM:
            options.confirm = true;
            break;
        case OPT_NOEXEC:
            options.noexec = true;
            break;
        case OPT_TARGET:
            options.target_dir = optarg;
            break;
        default:
            return failed(report("Unknown number of action option %d\n", long_option));
        }
    }
}

// Only the first option counts.
parse_result parse_create_options(int argc, char **argv, std::string_view prog_name,
                                  create_options &options)
{
    const int c = getopt_long(argc, argv, "h", CREATE_OPTIONS, nullptr);
    if (c == -1)
        return parse_result::proceed;
    if (c == '?')
        return parse_result::failed;
    if (c == 'h' || (c == 0 && long_option == OPT_HELP))
        return show_create_usage(prog_name);
    if (c != 0)
        return failed(report("Cannot get option %o\n", static_cast<unsigned>(c)));
    if (long_option == OPT_VERSION)
        return show_version();
    if (long_option != OPT_CREATE)
        return failed(report("Unknown option %d\n", long_option));
    options.create = true;
    if (optind >= argc) {
        show_create_usage(prog_name);
        return parse_result::failed;
    }
    options.installer_name = optarg;
    options.tar_name = argv[optind];
    return parse_result::proceed;
}

#include "options.h"

#include "option_scanner.h"
#include "report.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr char VERSION[] = VORLAN_VERSION;  // the project's, from the build

enum option_number : int {
    OPT_VERSION = 256,
    OPT_HELP,
    OPT_LIST,
    OPT_TAR,
    OPT_INFO,
    OPT_CHECK,
    OPT_CONFIRM,
    OPT_NOEXEC,
    OPT_TARGET,
    OPT_CREATE,
};

constexpr long_option RUN_OPTIONS[] = {
    {"version", false, OPT_VERSION},
    {"help", false, OPT_HELP},
    {"list", false, OPT_LIST},
    {"tar", true, OPT_TAR},
    {"info", false, OPT_INFO},
    {"check", false, OPT_CHECK},
    {"confirm", false, OPT_CONFIRM},
    {"noexec", false, OPT_NOEXEC},
    {"target", true, OPT_TARGET},
    {nullptr, false, 0},
};

constexpr long_option CREATE_OPTIONS[] = {
    {"version", false, OPT_VERSION},
    {"help", false, OPT_HELP},
    {"create", true, OPT_CREATE},
    {nullptr, false, 0},
};

parse_result show_help(text_view prog_name)
{
    const int len = static_cast<int>(prog_name.size);
    const char *name = prog_name.data;
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

parse_result show_create_usage(text_view prog_name)
{
    printf("Usage: %.*s --create <INSTALLER_NAME> <TAR_FILE>\n", static_cast<int>(prog_name.size),
           prog_name.data);
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
parse_result take_tar_command(const option_scanner &scanner, int argc, char **argv, run_options &options)
{
    options.action = tar_action::custom;
    const char *argument = scanner.argument();
    size_t size = sizeof "tar  -" + strlen(argument);
    for (int i = scanner.index(); i < argc; ++i)
        size += 1 + strlen(argv[i]);
    heap_string command(static_cast<char *>(malloc(size)));
    if (command == nullptr)
        return failed(report_errno("Cannot allocate memory for tar command"));
    int used = snprintf(command.get(), size, "tar %s -", argument);
    for (int i = scanner.index(); i < argc; ++i)
        used += snprintf(command.get() + used, size - used, " %s", argv[i]);
    options.tar_command = moved(command);
    return parse_result::proceed;
}

// Words the scan left over belong to the embedded script, and only behind "--".
parse_result take_script_args(const option_scanner &scanner, int argc, char **argv, run_options &options)
{
    const int first = scanner.index();
    if (first == argc)
        return parse_result::proceed;
    if (first == 1 || strcmp(argv[first - 1], "--") != 0)
        return failed(report("Unknown argument %s\n", argv[first]));
    options.script_args = argv + first;
    return parse_result::proceed;
}

} // namespace

// --list, --info and --tar end the scan; the other options may come in any order.
parse_result parse_run_options(int argc, char **argv, text_view prog_name, run_options &options)
{
    option_scanner scanner(argc, argv, "h", RUN_OPTIONS);
    for (;;) {
        switch (scanner.next()) {
        case option_scanner::END:
            return take_script_args(scanner, argc, argv, options);
        case option_scanner::FAILED:
            return parse_result::failed;
        case 'h':
        case OPT_HELP:
            return show_help(prog_name);
        case OPT_VERSION:
            return show_version();
        case OPT_LIST:
            options.action = tar_action::list;
            return parse_result::proceed;
        case OPT_TAR:
            return take_tar_command(scanner, argc, argv, options);
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
            options.target_dir = scanner.argument();
            break;
        }
    }
}

// Only the first option counts.
parse_result parse_create_options(int argc, char **argv, text_view prog_name,
                                  create_options &options)
{
    option_scanner scanner(argc, argv, "h", CREATE_OPTIONS);
    switch (scanner.next()) {
    case option_scanner::END:
        return parse_result::proceed;
    case option_scanner::FAILED:
        return parse_result::failed;
    case 'h':
    case OPT_HELP:
        return show_create_usage(prog_name);
    case OPT_VERSION:
        return show_version();
    }
    options.create = true;
    if (scanner.index() >= argc) {
        show_create_usage(prog_name);
        return parse_result::failed;
    }
    options.installer_name = scanner.argument();
    options.tar_name = argv[scanner.index()];
    return parse_result::proceed;
}

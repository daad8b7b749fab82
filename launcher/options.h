// The two command lines: an installer image's and a bare launcher's.
#ifndef VORLAN_OPTIONS_H
#define VORLAN_OPTIONS_H

#include "owned.h"
#include "tar_action.h"

// finished: --help, -h or --version has been answered on stdout.
// failed: reported, by the parser or by its scanner.
enum class parse_result { proceed, finished, failed };

struct run_options {
    bool confirm = false;
    bool check = false;
    bool info = false;
    bool noexec = false;
    tar_action action = tar_action::extract;
    const char *target_dir = nullptr;     // from argv; null for the default
    heap_string tar_command;              // "tar ARG - ARGS..." for tar_action::custom
    char *const *script_args = nullptr;   // the words after "--", within argv
};

struct create_options {
    bool create = false;
    const char *installer_name = nullptr;  // both from argv
    const char *tar_name = nullptr;
};

// Each scans argv from argv[1] on.
parse_result parse_run_options(int argc, char **argv, text_view prog_name, run_options &options);
parse_result parse_create_options(int argc, char **argv, text_view prog_name,
                                  create_options &options);

#endif

// Command lines of the launcher and the location of its own file.
#ifndef VORLAN_OPTIONS_H
#define VORLAN_OPTIONS_H

enum tar_action { TAR_EXTRACT = 0, TAR_LIST = 1, TAR_CUSTOM = 2 };

// Filled by one of the two parsers; main zeroes it first.
struct launcher_options {
    int confirm;
    int check;
    int info;
    int noexec;
    int create;
    char *installer_name;
    char *tar_name;
    char *target_dir;
    char *tar_command;
    char **script_args;  // null-terminated; null when no words follow "--"
    int tar_action;
};

// Both return 0, or -1 after reporting; --help, -h and --version end the process.
int parse_options(int argc, char **argv, launcher_options *options);
int parse_options_create(int argc, char **argv, launcher_options *options);

// Heap strings owned by the caller; null after the cause has been reported.
char *get_prog_path(const char *argv0);
void free_prog_path(char *prog_path);
char *get_prog_name(const char *argv0);
void free_prog_name(char *prog_name);

// Flushes stdout, remembering why the first failed flush failed.
void flush_stdout();
// Flushes stdout and ends the process, failing when the output was lost.
[[noreturn]] void exit_flushed(int status);
int finish_output(int status);

#endif

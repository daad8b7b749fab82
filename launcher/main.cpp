// The frame of every run: build an installer from a bare launcher, or verify,
// extract and hand over to the embedded script from an installer image.
#include "elf_funcs.h"
#include "installer.h"
#include "options.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

void show_info(uint64_t archive_size, const char *target_dir)
{
    printf("TAR size: %llu KB \n", static_cast<unsigned long long>(size_b_to_kb(archive_size)));
    printf("Target directory: %s \n", target_dir);
    puts("Script to run after the extraction: ./install.sh");
    printf("directory %s is permanent\n", target_dir);
}

char *make_default_target(const char *prog_name)
{
    const size_t size = strlen(prog_name) + 5;
    char *target_dir = static_cast<char *>(malloc(size));
    if (target_dir == nullptr) {
        perror("Cannot allocate memory for installation directory string");
        return nullptr;
    }
    snprintf(target_dir, size, "%s.dir", prog_name);
    return target_dir;
}

int run_bare_launcher(int argc, char **argv, FILE *stream, launcher_options *options)
{
    if (parse_options_create(argc, argv, options) != 0)
        return -1;
    if (options->create)
        return create_installer(stream, options->installer_name, options->tar_name);
    fputs("This installer does not contain an embedded archive\n", stderr);
    return -1;
}

int run_image(int argc, char **argv, FILE *stream, int64_t elf_end, const char *prog_name,
              launcher_options *options)
{
    if (parse_options(argc, argv, options) != 0)
        return -1;
    if (options->target_dir == nullptr) {
        options->target_dir = make_default_target(prog_name);
        if (options->target_dir == nullptr)
            return -1;
    }

    payload_header header = {};
    if (read_payload_header(stream, elf_end, &header) != 0)
        return -1;
    if (options->info) {
        show_info(header.archive_size, options->target_dir);
        return 0;
    }

    const uint64_t archive_offset = static_cast<uint64_t>(elf_end) + PAYLOAD_HEADER_SIZE;
    fputs("Verifying archive integrity... ", stdout);
    flush_stdout();
    if (check_tar(stream, archive_offset, header.digest) != 0) {
        puts("Failed.");
        return -1;
    }
    puts("Succeed.");
    flush_stdout();
    if (options->check)
        return 0;

    if (options->tar_action == TAR_CUSTOM)
        printf("Run: %s\n", options->tar_command);
    if (options->confirm && ask_tar_run(header.archive_size, options->target_dir) != 0)
        return 0;
    if (run_tar(stream, archive_offset, options->tar_action, options->tar_command,
                options->target_dir) != 0)
        return -1;
    if (fclose(stream) != 0) {
        perror("ELF file close error");
        return -1;
    }
    if (options->tar_action != TAR_EXTRACT || options->noexec)
        return 0;
    if (options->confirm && ask_installer_run(options->script_args) != 0)
        return 0;
    return run_installer(options->script_args);
}

int run(int argc, char **argv)
{
    launcher_options options = {};
    char *prog_path = get_prog_path(argv[0]);
    if (prog_path == nullptr)
        return -1;
    char *prog_name = get_prog_name(argv[0]);
    if (prog_name == nullptr)
        return -1;

    FILE *stream = fopen(prog_path, "re");
    if (stream == nullptr) {
        fprintf(stderr, "Cannot open %s: %s\n", prog_path, strerror(errno));
        return -1;
    }
    static char stream_buffer[STREAM_BUFFER_SIZE];
    setvbuf(stream, stream_buffer, _IOFBF, sizeof stream_buffer);
    const int64_t elf_end = find_elf_end(stream);
    if (elf_end < 0)
        return -1;
    struct stat file_stat;
    if (stat(prog_path, &file_stat) != 0) {
        fprintf(stderr, "Cannot stat %s: %s\n", prog_path, strerror(errno));
        return -1;
    }
    if (file_stat.st_size == elf_end)
        return run_bare_launcher(argc, argv, stream, &options);
    return run_image(argc, argv, stream, elf_end, prog_name, &options);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 1 || argv[0] == nullptr) {
        fputs("No program name in the argument vector\n", stderr);
        return 255;
    }
    return finish_output(run(argc, argv) == 0 ? 0 : 255);
}

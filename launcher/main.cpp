// The order of a run: build an installer from a bare launcher, or verify,
// extract and hand over to the embedded script from an installer image.
#include "decode.h"
#include "digest.h"
#include "elf_end.h"
#include "extract.h"
#include "hand_over.h"
#include "image.h"
#include "interrupt.h"
#include "local_tar.h"
#include "options.h"
#include "own_file.h"
#include "owned.h"
#include "payload.h"
#include "prompts.h"
#include "report.h"
#include "target.h"
#include "target_fs.h"

#include <sys/stat.h>

#include <errno.h>

namespace {

// Lines go out through fputs, never puts: one output routine fewer in the
// static launchers.
void show_info(uint64_t archive_size, const char *target_dir)
{
    printf("TAR size: %llu KB \n", static_cast<unsigned long long>(size_b_to_kb(archive_size)));
    printf("Target directory: %s \n", target_dir);
    fputs("Script to run after the extraction: ./install.sh\n", stdout);
    printf("directory %s is permanent\n", target_dir);
}

// "<program name>.dir" in the current directory.
heap_string default_target(text_view prog_name)
{
    const size_t size = prog_name.size + sizeof ".dir";
    heap_string target_dir(static_cast<char *>(malloc(size)));
    if (target_dir == nullptr)
        report_errno("Cannot allocate memory for installation directory string");
    else
        snprintf(target_dir.get(), size, "%.*s.dir", static_cast<int>(prog_name.size), prog_name.data);
    return target_dir;
}

// The run's result when the command line ended it.
int stopped_status(parse_result parsed)
{
    return parsed == parse_result::finished ? 0 : FAILURE;
}

int run_bare_launcher(int argc, char **argv, FILE *own_stream, text_view prog_name)
{
    create_options options;
    const parse_result parsed = parse_create_options(argc, argv, prog_name, options);
    if (parsed != parse_result::proceed)
        return stopped_status(parsed);
    if (options.create)
        return create_installer(own_stream, options.installer_name, options.tar_name);
    return report("This installer does not contain an embedded archive\n");
}

// Enters the target directory, extracts into it, then hands over to the
// script: the launcher's process becomes the script's.
int extract_and_hand_over(file_stream own_stream, uint64_t archive_offset, const run_options &options,
                          const char *tar_command)
{
    const file_descriptor target = enter_target(options.target_dir);
    if (!target)
        return FAILURE;
    // The tar's size as far as the payload tells it before decoding.
    if (check_room(target.get(), options.target_dir, payload_tar_size(own_stream.get(), archive_offset)) != 0)
        return FAILURE;
    if (pipe_payload_to_tar(own_stream.get(), archive_offset, tar_action::extract, tar_command,
                            options.target_dir) != 0)
        return FAILURE;
    if (fclose(own_stream.release()) != 0)
        return report_errno("ELF file close error");
    if (options.noexec)
        return 0;
    warn_if_noexec(target.get(), options.target_dir);
    if (options.confirm && ask_to_run_script(options.script_args) != answer::yes)
        return 0;
    return exec_install_script(options.script_args);
}

// Verifies the payload, then hands it to tar; --check, --info and a
// declined prompt stop on the way with success.
int run_image(int argc, char **argv, file_stream own_stream, int64_t elf_end, text_view prog_name)
{
    run_options options;
    const parse_result parsed = parse_run_options(argc, argv, prog_name, options);
    if (parsed != parse_result::proceed)
        return stopped_status(parsed);
    heap_string default_dir;
    if (options.target_dir == nullptr) {
        default_dir = default_target(prog_name);
        if (default_dir == nullptr)
            return FAILURE;
        options.target_dir = default_dir.get();
    }

    payload_header header = {};
    if (read_payload_header(own_stream.get(), elf_end, header) != 0)
        return FAILURE;
    if (options.info) {
        show_info(header.archive_size, options.target_dir);
        return 0;
    }

    const uint64_t archive_offset = static_cast<uint64_t>(elf_end) + PAYLOAD_HEADER_SIZE;
    fputs("Verifying archive integrity... ", stdout);
    flush_stdout();
    if (!verify_payload_digest(own_stream.get(), archive_offset, header.digest)) {
        fputs("Failed.\n", stdout);
        return FAILURE;
    }
    fputs("Succeed.\n", stdout);
    flush_stdout();
    if (options.check)
        return 0;

    const char *tar_command = options.action == tar_action::custom ? options.tar_command.get()
                                                                   : local_tar_command(options.action);
    if (tar_command == nullptr)
        return FAILURE;
    if (options.action == tar_action::custom)
        printf("Run: %s\n", tar_command);
    if (options.confirm && ask_to_extract(header.archive_size, options.target_dir) != answer::yes)
        return 0;
    if (options.action == tar_action::extract)
        return extract_and_hand_over(moved(own_stream), archive_offset, options, tar_command);
    if (pipe_payload_to_tar(own_stream.get(), archive_offset, options.action, tar_command, nullptr) != 0)
        return FAILURE;
    if (fclose(own_stream.release()) != 0)
        return report_errno("ELF file close error");
    return 0;
}

int run(int argc, char **argv)
{
    buffer_stdout();
    catch_interrupts();
    const heap_string own_path = find_own_file(argv[0]);
    if (own_path == nullptr)
        return FAILURE;
    const text_view prog_name = program_name(argv[0]);

    file_stream own_stream(fopen(own_path.get(), "re"));
    if (own_stream == nullptr)
        return report_file_error("Cannot open", own_path.get(), errno);
    static char stream_buffer[STREAM_BUFFER_SIZE];
    setvbuf(own_stream.get(), stream_buffer, _IOFBF, sizeof stream_buffer);
    const int64_t elf_end = find_elf_end(own_stream.get());
    if (elf_end < 0)
        return FAILURE;
    // The file that was opened, whatever its name names by now.
    struct stat file_stat;
    if (fstat(fileno(own_stream.get()), &file_stat) != 0)
        return report_file_error("Cannot stat", own_path.get(), errno);
    if (file_stat.st_size == elf_end)
        return run_bare_launcher(argc, argv, own_stream.get(), prog_name);
    return run_image(argc, argv, moved(own_stream), elf_end, prog_name);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 1 || argv[0] == nullptr) {
        report("No program name in the argument vector\n");
        return 255;
    }
    return finish_output(run(argc, argv) == 0 ? 0 : 255);
}

#include "blocks.h"

#include <sys/stat.h>

uint64_t bytes_after(FILE *stream, uint64_t offset)
{
    struct stat file_stat;
    if (fstat(fileno(stream), &file_stat) != 0 || static_cast<uint64_t>(file_stat.st_size) <= offset)
        return 0;
    return static_cast<uint64_t>(file_stat.st_size) - offset;
}

#include "memory_limit.h"

#include "report.h"

#include <sys/resource.h>

namespace {

constexpr int LIMITS[] = {RLIMIT_AS, RLIMIT_DATA};

const char *codec_name(codec format)
{
    switch (format) {
    case codec::zstd: return "zstd";
    case codec::xz: return "xz";
    case codec::gzip: return "gzip";
    case codec::none: break;
    }
    return "tar";
}

} // namespace

uint64_t allocation_limit()
{
    uint64_t least = UINT64_MAX;
    for (const int resource : LIMITS) {
        struct rlimit limit;
        if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
            && static_cast<uint64_t>(limit.rlim_cur) < least)
            least = static_cast<uint64_t>(limit.rlim_cur);
    }
    return least;
}

int check_memory(const decoding_needs &needs, uint64_t limit)
{
    if (needs.decoder_memory <= limit)
        return 0;
    // The need rounded up, the limit down, as the free-space message does.
    return report("Not enough memory to decode the payload (%s): %llu KB needed, the process may allocate "
                  "%llu KB\n",
                  codec_name(needs.format), static_cast<unsigned long long>(size_b_to_kb(needs.decoder_memory)),
                  static_cast<unsigned long long>(limit / 1024));
}

#include "memory_copy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Bytes that differ at every offset, so that a byte copied from the wrong
// place shows.
std::vector<unsigned char> pattern(size_t size)
{
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    return bytes;
}

constexpr size_t SIZES[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 48, 49, 64, 100, 4096, 4099};

} // namespace

TEST(MemoryCopy, CopiesEverySizeAndNothingAround)
{
    for (size_t size : SIZES) {
        const std::vector<unsigned char> from = pattern(size + 2);
        std::vector<unsigned char> to(size + 2, 0xEE);
        EXPECT_EQ(memory_copy::copy(to.data() + 1, from.data() + 1, size), to.data() + 1);
        EXPECT_EQ(to[0], 0xEE) << size;
        EXPECT_EQ(to[size + 1], 0xEE) << size;
        EXPECT_EQ(std::memcmp(to.data() + 1, from.data() + 1, size), 0) << size;
    }
}

// Overlapping areas, the target below and above the source by each distance:
// the result of moving through a separate buffer.
TEST(MemoryCopy, MovesOverlappingAreasEitherWay)
{
    for (size_t size : SIZES) {
        for (size_t distance : {1, 3, 8, 16, 17, 40}) {
            for (bool up : {false, true}) {
                std::vector<unsigned char> bytes = pattern(size + distance + 2), want = bytes;
                const size_t from = up ? 1 : 1 + distance, to = up ? 1 + distance : 1;
                const std::vector<unsigned char> moved(want.begin() + from, want.begin() + from + size);
                std::copy(moved.begin(), moved.end(), want.begin() + to);
                memory_copy::move(bytes.data() + to, bytes.data() + from, size);
                EXPECT_EQ(bytes, want) << size << " by " << distance << (up ? " up" : " down");
            }
        }
    }
}

// A stream over a temporary file that holds given bytes, for the units that
// read streams.
#ifndef VORLAN_TEMPORARY_STREAM_H
#define VORLAN_TEMPORARY_STREAM_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// The bytes in a new temporary file, read from its start; the caller closes it.
inline FILE *stream_of(const std::string &bytes)
{
    FILE *stream = tmpfile();
    EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
    rewind(stream);
    return stream;
}

#endif

// A fixture that gives each test a fresh directory under /tmp, removed with
// all it holds once the test is done.
#ifndef VORLAN_TEMPORARY_DIRECTORY_H
#define VORLAN_TEMPORARY_DIRECTORY_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

class TemporaryDirectory : public testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char tmpl[] = "/tmp/vorlan-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0); }
};

#endif

#include "report.h"

#include "captured_reports.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(Report, WritesTheTextAndReturnsTheFailure)
{
    captured_reports reports;
    EXPECT_EQ(report("Cannot open %s: %s\n", "p.tar", "No such file or directory"), FAILURE);
    EXPECT_EQ(report("Read tar error\n"), FAILURE);
    EXPECT_EQ(reports.text(), "Cannot open p.tar: No such file or directory\nRead tar error\n");
}

TEST(Report, SystemErrorsAsPerrorWritesThem)
{
    captured_reports reports;
    EXPECT_EQ(report_error("ELF header read error", NO_SYSTEM_ERROR), FAILURE);
    errno = ENOSPC;
    EXPECT_EQ(report_errno("MD5sum write error"), FAILURE);
    EXPECT_EQ(report_file_error("Cannot chdir to", "t/", ENOTDIR), FAILURE);
    EXPECT_EQ(reports.text(), "ELF header read error: Success\nMD5sum write error: No space left on device\n"
                              "Cannot chdir to t/: Not a directory\n");
}

TEST(SizeBToKb, RoundsUp)
{
    EXPECT_EQ(size_b_to_kb(0), 0u);
    EXPECT_EQ(size_b_to_kb(1), 1u);
    EXPECT_EQ(size_b_to_kb(1023), 1u);
    EXPECT_EQ(size_b_to_kb(1024), 1u);
    EXPECT_EQ(size_b_to_kb(1025), 2u);
    EXPECT_EQ(size_b_to_kb(31498240), 30760u);
    EXPECT_EQ(size_b_to_kb(31498241), 30761u);
    EXPECT_EQ(size_b_to_kb(5ull << 32), 5ull << 22);
}

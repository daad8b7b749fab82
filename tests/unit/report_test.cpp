#include "report.h"

#include "captured_reports.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

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

// The texts of system errors are the GNU C library's, whichever C library
// the launcher is linked with; this test runs against glibc itself.
TEST(Report, SystemErrorTextsAreTheGnuOnes)
{
    for (int error = 0; error < 134; ++error) {
        captured_reports reports;
        report_error("c", error);
        EXPECT_EQ(reports.text(), std::string("c: ") + strerror(error) + "\n") << error;
    }
}

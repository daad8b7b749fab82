// What the launcher reports while one of these lives, instead of on stderr.
#ifndef VORLAN_CAPTURED_REPORTS_H
#define VORLAN_CAPTURED_REPORTS_H

#include "report.h"

#include <cstdio>
#include <cstdlib>
#include <string>

class captured_reports {
public:
    captured_reports() : stream_(open_memstream(&buffer_, &size_)) { report_to(stream_); }
    captured_reports(const captured_reports &) = delete;
    captured_reports &operator=(const captured_reports &) = delete;
    ~captured_reports()
    {
        report_to(nullptr);
        fclose(stream_);
        free(buffer_);
    }

    std::string text()
    {
        fflush(stream_);
        return std::string(buffer_, size_);
    }

private:
    char *buffer_ = nullptr;
    size_t size_ = 0;
    FILE *stream_;
};

#endif

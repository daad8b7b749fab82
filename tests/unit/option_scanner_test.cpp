// The scanner against the GNU C library's getopt_long, which the launcher's
// command lines have always followed: the same options, arguments, order of
// the words afterwards and messages, for each command line.
#include "option_scanner.h"

#include "captured_reports.h"

#include <gtest/gtest.h>

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr long_option OPTIONS[] = {
    {"version", false, 256}, {"help", false, 257}, {"list", false, 258}, {"tar", true, 259},
    {"target", true, 260},   {"check", false, 261}, {"confirm", false, 262}, {nullptr, false, 0},
};

// What a scan gave: each result and argument, where it stopped, the words
// in their final order, the messages.
struct scan {
    std::vector<std::string> steps;
    std::vector<std::string> words;
    std::string err;
};

struct command_line {
    std::vector<std::string> storage;
    std::vector<char *> argv;
    explicit command_line(const std::vector<std::string> &words) : storage(words)
    {
        storage.insert(storage.begin(), "./setup.run");
        for (std::string &word : storage)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage.size()); }
    std::vector<std::string> now() const { return {argv.begin(), argv.end() - 1}; }
};

std::string step(int result, const char *argument)
{
    return std::to_string(result) + (argument != nullptr ? std::string("=") + argument : "");
}

scan ours(const std::vector<std::string> &words)
{
    command_line line(words);
    captured_reports reports;
    option_scanner scanner(line.argc(), line.argv.data(), "h", OPTIONS);
    scan s;
    for (int c = 0; c != option_scanner::END;) {
        c = scanner.next();
        s.steps.push_back(step(c, scanner.argument()));
    }
    s.steps.push_back("index " + std::to_string(scanner.index()));
    s.words = line.now();
    s.err = reports.text();
    return s;
}

// glibc prints on stderr: a file stands in for it during the scan.
scan glibc(const std::vector<std::string> &words)
{
    std::vector<option> options;
    for (const long_option *o = OPTIONS; o->name != nullptr; ++o)
        options.push_back({o->name, o->takes_argument ? required_argument : no_argument, nullptr, o->number});
    options.push_back({nullptr, 0, nullptr, 0});
    command_line line(words);
    FILE *err = tmpfile();
    fflush(stderr);
    const int saved = dup(2);
    dup2(fileno(err), 2);
    optind = 0;
    scan s;
    for (int c = 0; c != -1;) {
        c = getopt_long(line.argc(), line.argv.data(), "h", options.data(), nullptr);
        s.steps.push_back(step(c, c == '?' || c == 'h' ? nullptr : optarg));
    }
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    s.steps.push_back("index " + std::to_string(optind));
    s.words = line.now();
    rewind(err);
    for (int ch; (ch = fgetc(err)) != EOF;)
        s.err += static_cast<char>(ch);
    fclose(err);
    return s;
}

const std::vector<std::vector<std::string>> COMMAND_LINES = {
    {},
    {"--check"},
    {"a", "--check", "b", "--confirm", "c"},
    {"a", "b", "--target", "t", "c", "--", "d", "--check"},
    {"x", "--", "y"},
    {"--", "--check"},
    {"a", "--"},
    {"--chec", "--conf", "--targ=t", "--ta", "v"},
    {"--c"},
    {"--ta=x", "y"},
    {"--t", "x"},
    {"--check=1"},
    {"--target"},
    {"--bogus", "--check"},
    {"-h"},
    {"-hx", "y"},
    {"-x", "--check"},
    {"-", "--check"},
    {"--=x"},
    {"---check"},
    {"w", "--tar", "tvf", "z", "--check"},
    {"--target=", "--list"},
};

// Every command line scanned by both, with POSIXLY_CORRECT as it is.
void expect_scans_as_glibc()
{
    for (const auto &words : COMMAND_LINES) {
        const scan expected = glibc(words), got = ours(words);
        const std::string line = ::testing::PrintToString(words);
        EXPECT_EQ(got.steps, expected.steps) << line;
        EXPECT_EQ(got.words, expected.words) << line;
        EXPECT_EQ(got.err, expected.err) << line;
    }
}

TEST(OptionScanner, AsGetoptLongPermuting)
{
    unsetenv("POSIXLY_CORRECT");
    expect_scans_as_glibc();
}

TEST(OptionScanner, AsGetoptLongWithPosixlyCorrect)
{
    setenv("POSIXLY_CORRECT", "1", 1);
    expect_scans_as_glibc();
    unsetenv("POSIXLY_CORRECT");
}

} // namespace

#include "options.h"

#include "captured_reports.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <list>
#include <string>
#include <vector>

namespace {

// The options point into the words, which live as long as the result.
template <typename Options>
struct parsed {
    parse_result result;
    Options options;
    std::string err;
    std::list<std::string> words;
    std::vector<char *> argv;
};

// Runs a parser on a fresh scanner; words exclude the program name.
template <typename Options, typename Parser>
parsed<Options> parse_with(Parser parser, std::vector<std::string> words)
{
    parsed<Options> p{};
    p.words.assign(words.begin(), words.end());
    p.words.push_front("./setup.run");
    for (std::string &word : p.words)
        p.argv.push_back(&word[0]);
    p.argv.push_back(nullptr);
    captured_reports reports;
    p.result = parser(static_cast<int>(p.words.size()), p.argv.data(), {"setup.run", 9}, p.options);
    p.err = reports.text();
    return p;
}

parsed<run_options> run_mode(std::vector<std::string> words)
{
    return parse_with<run_options>(parse_run_options, std::move(words));
}

parsed<create_options> create_mode(std::vector<std::string> words)
{
    return parse_with<create_options>(parse_create_options, std::move(words));
}

std::vector<std::string> script_args_of(const run_options &options)
{
    std::vector<std::string> args;
    for (char *const *arg = options.script_args; arg != nullptr && *arg != nullptr; ++arg)
        args.push_back(*arg);
    return args;
}

std::string or_null(const char *s)
{
    return s == nullptr ? "(null)" : s;
}

} // namespace

TEST(RunOptions, NoWordsLeaveTheDefaults)
{
    const auto p = run_mode({});
    EXPECT_EQ(p.result, parse_result::proceed);
    EXPECT_FALSE(p.options.confirm || p.options.check || p.options.info || p.options.noexec);
    EXPECT_EQ(p.options.action, tar_action::extract);
    EXPECT_EQ(p.options.target_dir, nullptr);
    EXPECT_EQ(p.options.script_args, nullptr);
}

TEST(RunOptions, FlagsInAnyOrderAndTheLastTargetWins)
{
    const auto a = run_mode({"--confirm", "--noexec", "--target", "d"});
    const auto b = run_mode({"--target", "x", "--target", "d", "--noexec", "--confirm"});
    for (const auto *p : {&a, &b}) {
        EXPECT_EQ(p->result, parse_result::proceed);
        EXPECT_TRUE(p->options.confirm);
        EXPECT_TRUE(p->options.noexec);
        EXPECT_EQ(or_null(p->options.target_dir), "d");
    }
}

TEST(RunOptions, ListInfoAndTarEndTheScan)
{
    auto p = run_mode({"--list", "--confirm"});
    EXPECT_EQ(p.result, parse_result::proceed);
    EXPECT_EQ(p.options.action, tar_action::list);
    EXPECT_FALSE(p.options.confirm);

    p = run_mode({"--check", "--info"});
    EXPECT_TRUE(p.options.check);
    EXPECT_TRUE(p.options.info);

    p = run_mode({"--list", "foo"});
    EXPECT_EQ(p.result, parse_result::proceed);
    EXPECT_EQ(p.err, "");
}

TEST(RunOptions, TarCommand)
{
    const struct {
        std::vector<std::string> words;
        std::string command;
    } cases[] = {
        {{"--tar", "tvf"}, "tar tvf -"},
        {{"--tar", "xf", "./install.sh"}, "tar xf - ./install.sh"},
        {{"--tar", "xf", "--", "--check", "a b"}, "tar xf - -- --check a b"},
        {{"foo", "--tar", "tvf"}, "tar tvf -"},
        {{"--noexec", "--tar=cvf", "x"}, "tar cvf - x"},
    };
    for (const auto &c : cases) {
        const auto p = run_mode(c.words);
        EXPECT_EQ(p.result, parse_result::proceed) << c.command;
        EXPECT_EQ(p.options.action, tar_action::custom);
        EXPECT_EQ(or_null(p.options.tar_command.get()), c.command);
        EXPECT_EQ(p.err, "");
    }
}

TEST(RunOptions, ScriptArguments)
{
    auto p = run_mode({"--", "a", "b c"});
    EXPECT_EQ(p.result, parse_result::proceed);
    EXPECT_EQ(script_args_of(p.options), (std::vector<std::string>{"a", "b c"}));

    p = run_mode({"--confirm", "--", "a"});
    EXPECT_TRUE(p.options.confirm);
    EXPECT_EQ(script_args_of(p.options), std::vector<std::string>{"a"});

    p = run_mode({"--"});
    EXPECT_EQ(p.result, parse_result::proceed);
    EXPECT_EQ(p.options.script_args, nullptr);

    // The scanner moves "foo" behind the "--".
    p = run_mode({"foo", "--", "bar"});
    EXPECT_EQ(script_args_of(p.options), (std::vector<std::string>{"foo", "bar"}));

    p = run_mode({"--", "--noexec"});
    EXPECT_FALSE(p.options.noexec);
    EXPECT_EQ(script_args_of(p.options), std::vector<std::string>{"--noexec"});
}

TEST(RunOptions, Failures)
{
    const struct {
        std::vector<std::string> words;
        const char *err;
    } cases[] = {
        {{"foo"}, "Unknown argument foo\n"},
        {{"--confirm", "foo"}, "Unknown argument foo\n"},
        {{"--tar"}, "./setup.run: option '--tar' requires an argument\n"},
        {{"--bogus"}, "./setup.run: unrecognized option '--bogus'\n"},
        {{"--create", "a", "b"}, "./setup.run: unrecognized option '--create'\n"},
        {{"-x"}, "./setup.run: invalid option -- 'x'\n"},
        {{"--c", "x"}, "./setup.run: option '--c' is ambiguous; possibilities: '--check' '--confirm'\n"},
        {{"--ta=x"}, "./setup.run: option '--ta=x' is ambiguous; possibilities: '--tar' '--target'\n"},
        {{"--check=yes"}, "./setup.run: option '--check' doesn't allow an argument\n"},
    };
    for (const auto &c : cases) {
        const auto p = run_mode(c.words);
        EXPECT_EQ(p.result, parse_result::failed) << c.words[0];
        EXPECT_EQ(p.err, c.err) << c.words[0];
    }
}

TEST(RunOptions, Abbreviations)
{
    const auto p = run_mode({"--conf", "--noex", "--targ", "t"});
    EXPECT_EQ(p.result, parse_result::proceed);
    EXPECT_TRUE(p.options.confirm);
    EXPECT_TRUE(p.options.noexec);
    EXPECT_EQ(or_null(p.options.target_dir), "t");
}

TEST(RunOptions, PosixlyCorrectStopsAtTheFirstWord)
{
    setenv("POSIXLY_CORRECT", "1", 1);
    const auto p = run_mode({"foo", "--tar", "tvf"});
    unsetenv("POSIXLY_CORRECT");
    EXPECT_EQ(p.result, parse_result::failed);
    EXPECT_EQ(p.err, "Unknown argument foo\n");
}

// The texts themselves are the end-to-end tests' to check.
TEST(RunOptions, HelpAndVersionFinishTheRun)
{
    for (const char *word : {"--help", "-h", "--he", "--vers"}) {
        const auto p = run_mode({"--check", word, "--bogus"});
        EXPECT_EQ(p.result, parse_result::finished) << word;
        EXPECT_EQ(p.err, "") << word;
    }
}

TEST(CreateOptions, CreateTakesTwoNames)
{
    auto p = create_mode({"--create", "out.run", "a.tar", "extra"});
    EXPECT_EQ(p.result, parse_result::proceed);
    EXPECT_TRUE(p.options.create);
    EXPECT_EQ(or_null(p.options.installer_name), "out.run");
    EXPECT_EQ(or_null(p.options.tar_name), "a.tar");

    p = create_mode({"--c", "o", "t"});
    EXPECT_EQ(p.result, parse_result::proceed);
    EXPECT_EQ(or_null(p.options.tar_name), "t");

    p = create_mode({});
    EXPECT_EQ(p.result, parse_result::proceed);
    EXPECT_FALSE(p.options.create);
}

// The usage text on stdout is the end-to-end tests' to check.
TEST(CreateOptions, Failures)
{
    auto p = create_mode({"--create", "out.run"});
    EXPECT_EQ(p.result, parse_result::failed);
    EXPECT_TRUE(p.options.create);
    EXPECT_EQ(p.err, "");

    p = create_mode({"--check"});
    EXPECT_EQ(p.result, parse_result::failed);
}

TEST(CreateOptions, HelpAndVersionFinishTheRun)
{
    EXPECT_EQ(create_mode({"-h"}).result, parse_result::finished);
    EXPECT_EQ(create_mode({"--version", "--create", "o", "t"}).result, parse_result::finished);
}

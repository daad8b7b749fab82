#include "options.h"

#include <gtest/gtest.h>

#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct parsed {
    int result;
    launcher_options options;
    std::string err;
};

using parser_function = int (*)(int, char **, launcher_options *);

// Runs a parser on a fresh scanner; words exclude the program name.
int parse_words(parser_function parser, std::vector<std::string> words, launcher_options *options)
{
    words.insert(words.begin(), "./setup.run");
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    optind = 0;  // glibc: full re-initialisation of the scanner
    return parser(static_cast<int>(words.size()), argv.data(), options);
}

parsed parse_with(parser_function parser, std::vector<std::string> words)
{
    parsed p{};
    testing::internal::CaptureStderr();
    p.result = parse_words(parser, std::move(words), &p.options);
    p.err = testing::internal::GetCapturedStderr();
    return p;
}

void exit_parsing(parser_function parser, std::vector<std::string> words)
{
    launcher_options options{};
    parse_words(parser, std::move(words), &options);
    abort();
}

parsed run_mode(std::vector<std::string> words)
{
    return parse_with(parse_options, std::move(words));
}

parsed create_mode(std::vector<std::string> words)
{
    return parse_with(parse_options_create, std::move(words));
}

std::vector<std::string> script_args_of(const launcher_options &options)
{
    std::vector<std::string> args;
    for (char **arg = options.script_args; arg != nullptr && *arg != nullptr; ++arg)
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
    const parsed p = run_mode({});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.options.confirm + p.options.check + p.options.info + p.options.noexec, 0);
    EXPECT_EQ(p.options.tar_action, TAR_EXTRACT);
    EXPECT_EQ(p.options.target_dir, nullptr);
    EXPECT_EQ(p.options.script_args, nullptr);
}

TEST(RunOptions, FlagsInAnyOrderAndTheLastTargetWins)
{
    const parsed a = run_mode({"--confirm", "--noexec", "--target", "d"});
    const parsed b = run_mode({"--target", "x", "--target", "d", "--noexec", "--confirm"});
    for (const parsed &p : {a, b}) {
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.options.confirm, 1);
        EXPECT_EQ(p.options.noexec, 1);
        EXPECT_EQ(or_null(p.options.target_dir), "d");
    }
}

TEST(RunOptions, ListInfoAndTarEndTheScan)
{
    parsed p = run_mode({"--list", "--confirm"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.options.tar_action, TAR_LIST);
    EXPECT_EQ(p.options.confirm, 0);

    p = run_mode({"--check", "--info"});
    EXPECT_EQ(p.options.check, 1);
    EXPECT_EQ(p.options.info, 1);

    p = run_mode({"--list", "foo"});
    EXPECT_EQ(p.result, 0);
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
        const parsed p = run_mode(c.words);
        EXPECT_EQ(p.result, 0) << c.command;
        EXPECT_EQ(p.options.tar_action, TAR_CUSTOM);
        EXPECT_EQ(or_null(p.options.tar_command), c.command);
        EXPECT_EQ(p.err, "");
    }
}

TEST(RunOptions, ScriptArguments)
{
    parsed p = run_mode({"--", "a", "b c"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(script_args_of(p.options), (std::vector<std::string>{"a", "b c"}));

    p = run_mode({"--confirm", "--", "a"});
    EXPECT_EQ(p.options.confirm, 1);
    EXPECT_EQ(script_args_of(p.options), std::vector<std::string>{"a"});

    p = run_mode({"--"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.options.script_args, nullptr);

    // The scanner moves "foo" behind the "--".
    p = run_mode({"foo", "--", "bar"});
    EXPECT_EQ(script_args_of(p.options), (std::vector<std::string>{"foo", "bar"}));

    p = run_mode({"--", "--noexec"});
    EXPECT_EQ(p.options.noexec, 0);
    EXPECT_EQ(script_args_of(p.options), std::vector<std::string>{"--noexec"});
}

TEST(RunOptions, Failures)
{
    const struct {
        std::vector<std::string> words;
        std::string err;
    } cases[] = {
        {{"foo"}, "Unknown argument foo\n"},
        {{"--confirm", "foo"}, "Unknown argument foo\n"},
        {{"--tar"}, "./setup.run: option '--tar' requires an argument\n"},
        {{"--bogus"}, "./setup.run: unrecognized option '--bogus'\n"},
        {{"--create", "a", "b"}, "./setup.run: unrecognized option '--create'\n"},
        {{"-x"}, "./setup.run: invalid option -- 'x'\n"},
    };
    for (const auto &c : cases) {
        const parsed p = run_mode(c.words);
        EXPECT_EQ(p.result, -1) << c.err;
        EXPECT_EQ(p.err, c.err);
    }
    for (const char *ambiguous : {"--c", "--ta"}) {
        const parsed p = run_mode({ambiguous, "x"});
        EXPECT_EQ(p.result, -1) << ambiguous;
        EXPECT_NE(p.err.find("is ambiguous"), std::string::npos) << p.err;
    }
}

TEST(RunOptions, Abbreviations)
{
    const parsed p = run_mode({"--conf", "--noex", "--targ", "t"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.options.confirm, 1);
    EXPECT_EQ(p.options.noexec, 1);
    EXPECT_EQ(or_null(p.options.target_dir), "t");
}

TEST(RunOptions, PosixlyCorrectStopsAtTheFirstWord)
{
    setenv("POSIXLY_CORRECT", "1", 1);
    const parsed p = run_mode({"foo", "--tar", "tvf"});
    unsetenv("POSIXLY_CORRECT");
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.err, "Unknown argument foo\n");
}

TEST(RunOptions, HelpAndVersionExitWithZero)
{
    for (const char *word : {"--help", "-h", "--he", "--vers"})
        EXPECT_EXIT(exit_parsing(parse_options, {"--check", word, "--bogus"}),
                    testing::ExitedWithCode(0), "") << word;
}

TEST(CreateOptions, CreateTakesTwoNames)
{
    parsed p = create_mode({"--create", "out.run", "a.tar", "extra"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.options.create, 1);
    EXPECT_EQ(or_null(p.options.installer_name), "out.run");
    EXPECT_EQ(or_null(p.options.tar_name), "a.tar");

    p = create_mode({"--c", "o", "t"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(or_null(p.options.tar_name), "t");

    p = create_mode({});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.options.create, 0);
}

TEST(CreateOptions, Failures)
{
    testing::internal::CaptureStdout();
    parsed p = create_mode({"--create", "out.run"});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Usage: setup.run --create <INSTALLER_NAME> <TAR_FILE>\n");
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.options.create, 1);

    p = create_mode({"--check"});
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.err, "./setup.run: unrecognized option '--check'\n");
}

TEST(CreateOptions, HelpAndVersionExitWithZero)
{
    EXPECT_EXIT(exit_parsing(parse_options_create, {"-h"}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exit_parsing(parse_options_create, {"--version", "--create", "o", "t"}),
                testing::ExitedWithCode(0), "");
}

TEST(ProgName, LastComponent)
{
    const struct {
        const char *argv0, *name;
    } cases[] = {
        {"./setup.run", "setup.run"}, {"/opt/x/setup.run", "setup.run"}, {"setup.run", "setup.run"},
        {"dir/sub/", "sub"}, {"/", "/"}, {"a//b", "b"},
    };
    for (const auto &c : cases) {
        char *name = get_prog_name(c.argv0);
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(name, c.name) << c.argv0;
        free_prog_name(name);
    }
}

class ProgPath : public testing::Test {
protected:
    std::string dir;
    std::string saved_path;
    bool had_path = false;
    char cwd[4096];

    void SetUp() override
    {
        char tmpl[] = "/tmp/progpath.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        const char *path = getenv("PATH");
        had_path = path != nullptr;
        saved_path = had_path ? path : "";
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    }
    void TearDown() override
    {
        if (had_path)
            setenv("PATH", saved_path.c_str(), 1);
        else
            unsetenv("PATH");
        ASSERT_EQ(chdir(cwd), 0);
        ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0);
    }
    std::string make_file(const std::string &sub, mode_t mode)
    {
        mkdir((dir + "/" + sub).c_str(), 0755);
        const std::string path = dir + "/" + sub + "/setup.run";
        FILE *f = fopen(path.c_str(), "w");
        fclose(f);
        chmod(path.c_str(), mode);
        return path;
    }
    // The path found for argv0 under PATH, or the report on stderr prefixed with "!".
    std::string lookup(const char *argv0)
    {
        testing::internal::CaptureStderr();
        char *path = get_prog_path(argv0);
        const std::string err = testing::internal::GetCapturedStderr();
        if (path == nullptr)
            return "!" + err;
        std::string found = path;
        free_prog_path(path);
        EXPECT_EQ(err, "");
        return found;
    }
};

TEST_F(ProgPath, NameWithSlashIsUsedUnchanged)
{
    const std::string path = make_file("a", 0755);
    setenv("PATH", "/nonexistent", 1);
    EXPECT_EQ(lookup(path.c_str()), path);
    EXPECT_EQ(lookup((dir + "/a/../a/setup.run").c_str()), dir + "/a/../a/setup.run");
    chmod(path.c_str(), 0644);
    EXPECT_EQ(lookup(path.c_str()), "!Cannot find " + path + " executable\n");
}

TEST_F(ProgPath, SearchOrderFirstMatchWins)
{
    make_file("usr", 0644);
    make_file("opt", 0755);
    setenv("PATH", (dir + "/usr:" + dir + "/opt").c_str(), 1);
    EXPECT_EQ(lookup("setup.run"), dir + "/opt/setup.run");  // non-executable passed over

    make_file("first", 0755);
    setenv("PATH", (dir + "/first:" + dir + "/opt").c_str(), 1);
    EXPECT_EQ(lookup("setup.run"), dir + "/first/setup.run");

    setenv("PATH", (dir + "/opt/:/x").c_str(), 1);
    EXPECT_EQ(lookup("setup.run"), dir + "/opt//setup.run");  // doubled slash kept

    setenv("PATH", (dir + "/opt:" + dir + "/usr").c_str(), 1);
    EXPECT_EQ(lookup("setup.run"), dir + "/opt/setup.run");
    setenv("PATH", ("/x:" + dir + "/usr").c_str(), 1);
    EXPECT_EQ(lookup("setup.run"), "!Cannot find setup.run executable\n");
}

TEST_F(ProgPath, EmptyElementsMeanTheCurrentDirectory)
{
    make_file("cwd", 0755);
    ASSERT_EQ(chdir((dir + "/cwd").c_str()), 0);
    for (const char *path : {"", ":/x", "/x:", "/x::/y"}) {
        setenv("PATH", path, 1);
        EXPECT_EQ(lookup("setup.run"), "setup.run") << '"' << path << '"';
    }
    unsetenv("PATH");
    EXPECT_EQ(lookup("setup.run"), "!Cannot find PATH env\n");
}

TEST_F(ProgPath, LengthBoundaries)
{
    // Joined element, "/" and name: 4095 characters fit, 4096 do not.
    const std::string name = "setup.run";
    const std::string fits(4095 - 1 - name.size(), 'd');
    const std::string too_long = fits + "d";
    setenv("PATH", ("/" + fits.substr(1)).c_str(), 1);
    EXPECT_EQ(lookup("setup.run"), "!Cannot find setup.run executable\n");
    setenv("PATH", ("/" + too_long.substr(1)).c_str(), 1);
    EXPECT_EQ(lookup("setup.run"), "!Too long PATH /" + too_long.substr(1) + "\n");
    const std::string big = "/" + too_long.substr(1) + ":" + dir;
    setenv("PATH", big.c_str(), 1);
    EXPECT_EQ(lookup("setup.run"), "!Too big PATH " + big + "\n");
    const std::string ok = "/" + fits.substr(1) + ":/x";
    setenv("PATH", ok.c_str(), 1);
    EXPECT_EQ(lookup("setup.run"), "!Cannot find setup.run executable\n");

    std::string argv0 = "/" + std::string(4094, 'a');
    EXPECT_EQ(lookup(argv0.c_str()), "!Cannot find " + argv0 + " executable\n");
    argv0 += "a";
    EXPECT_EQ(lookup(argv0.c_str()), "!Too long program name " + argv0 + "\n");
}

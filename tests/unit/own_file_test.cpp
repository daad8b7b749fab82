#include "own_file.h"

#include "captured_reports.h"
#include "temporary_directory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

TEST(ProgramName, LastComponentAsBasenameGivesIt)
{
    const struct {
        const char *argv0, *name;
    } cases[] = {
        {"./setup.run", "setup.run"}, {"/opt/x/setup.run", "setup.run"}, {"setup.run", "setup.run"},
        {"dir/sub/", "sub"}, {"/", "/"}, {"a//b", "b"}, {"//", "/"}, {"", "."},
    };
    for (const auto &c : cases) {
        const text_view name = program_name(c.argv0);
        EXPECT_EQ(std::string(name.data, name.size), c.name) << c.argv0;
    }
}

class FindOwnFile : public TemporaryDirectory {
protected:
    std::string saved_path;
    bool had_path = false;
    char cwd[4096];

    void SetUp() override
    {
        TemporaryDirectory::SetUp();
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
        TemporaryDirectory::TearDown();
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
        captured_reports reports;
        const heap_string path = find_own_file(argv0);
        const std::string err = reports.text();
        if (path == nullptr)
            return "!" + err;
        EXPECT_EQ(err, "");
        return path.get();
    }
};

TEST_F(FindOwnFile, NameWithSlashIsUsedUnchanged)
{
    const std::string path = make_file("a", 0755);
    setenv("PATH", "/nonexistent", 1);
    EXPECT_EQ(lookup(path.c_str()), path);
    EXPECT_EQ(lookup((dir + "/a/../a/setup.run").c_str()), dir + "/a/../a/setup.run");
    chmod(path.c_str(), 0644);
    EXPECT_EQ(lookup(path.c_str()), "!Cannot find " + path + " executable\n");
}

TEST_F(FindOwnFile, SearchOrderFirstMatchWins)
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

TEST_F(FindOwnFile, EmptyElementsMeanTheCurrentDirectory)
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

TEST_F(FindOwnFile, LengthBoundaries)
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

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "host/tests/log_capture.hpp"
#include "host/ui/login.hpp"

namespace mirravale::host::ui {
namespace {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("mirravale-login-" + std::to_string(std::random_device{}()));
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

std::string read(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void put(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Sets an environment variable for one test and puts the old value back.
class EnvVar {
  public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvVar() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// What desktop-file-validate says; empty when the file is valid.
std::string validate(const fs::path& file) {
    const std::string command = "desktop-file-validate '" + file.string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) {
        out += buffer;
    }
    const int status = pipe ? pclose(pipe) : -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        out += "(exit status " + std::to_string(status) + ")";
    }
    return out;
}

struct ExecCase {
    const char* name;
    std::string program;
    std::string exec;
};

class ExecLine : public ::testing::TestWithParam<ExecCase> {};

TEST_P(ExecLine, IsQuotedAndEscapedForDesktopEntries) {
    const auto& c = GetParam();
    EXPECT_EQ(autostart_entry(c.program),
              "[Desktop Entry]\nType=Application\nName=Mirravale\nExec=" + c.exec + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Login, ExecLine,
    ::testing::Values(
        ExecCase{"Plain", "/usr/bin/mirravale", "/usr/bin/mirravale"},
        ExecCase{"Space", "/opt/my apps/mirravale", "\"/opt/my apps/mirravale\""},
        // Quote level first (\" \$ \` \\), then the string level doubles every backslash.
        ExecCase{"QuoteDollarBacktick", "/a\"b$c`d", "\"/a\\\\\"b\\\\$c\\\\`d\""},
        ExecCase{"Backslash", "/a\\b", "\"/a\\\\\\\\b\""},
        ExecCase{"Percent", "/100%/mirravale", "/100%%/mirravale"},
        ExecCase{"PercentQuoted", "/100% sure/m", "\"/100%% sure/m\""},
        ExecCase{"Newline", "/a\nb", "\"/a\\nb\""}, ExecCase{"Tilde", "/x~y", "\"/x~y\""},
        ExecCase{"Unicode", "/home/zoë/mirravale", "/home/zoë/mirravale"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Login, TurnsOnAndOffThroughTheEntryFile) {
    TempDir dir;
    const fs::path entry = dir.path() / "config" / "autostart" / "mirravale.desktop";
    OpenAtLogin login(entry, "/opt/mirravale tools/bin/mirravale");
    EXPECT_FALSE(login.enabled());

    host::testing::LogCapture log("mirravale::ui::login");
    login.toggle();  // creates the missing folders too
    EXPECT_TRUE(login.enabled());
    EXPECT_EQ(read(entry),
              "[Desktop Entry]\nType=Application\nName=Mirravale\n"
              "Exec=\"/opt/mirravale tools/bin/mirravale\"\n");
    EXPECT_EQ(validate(entry), "");

    login.toggle();
    EXPECT_FALSE(login.enabled());
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_TRUE(fs::is_directory(entry.parent_path()));
    EXPECT_EQ(log.lines(), "");
}

TEST(Login, AnAwkwardPathStillMakesAValidEntry) {
    TempDir dir;
    const fs::path entry = dir.path() / "mirravale.desktop";
    ASSERT_TRUE(OpenAtLogin(entry, "/o'dd \"dir\"/$HOME/a\\b/50%/mirravale").set(true).ok());
    EXPECT_EQ(validate(entry), "");
}

TEST(Login, StateIsReadFromTheFileEveryTime) {
    TempDir dir;
    const fs::path entry = dir.path() / "mirravale.desktop";
    OpenAtLogin login(entry, "/usr/bin/mirravale");
    struct {
        const char* text;
        bool enabled;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nName=Other\nExec=other\n", true},
        {"[Desktop Entry]\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = true \n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\nX-Hidden=true\n", true},
        {"[Desktop Action quit]\nHidden=true\n[Desktop Entry]\nName=M\n", true},
    };
    for (const auto& c : cases) {
        put(entry, c.text);
        EXPECT_EQ(login.enabled(), c.enabled) << c.text;
    }
}

TEST(Login, AHiddenEntryTurnsOnByBeingReplaced) {
    TempDir dir;
    const fs::path entry = dir.path() / "mirravale.desktop";
    put(entry, "[Desktop Entry]\nType=Application\nName=Mirravale\nExec=old\nHidden=true\n");
    OpenAtLogin login(entry, "/usr/bin/mirravale");
    login.toggle();
    EXPECT_TRUE(login.enabled());
    EXPECT_EQ(read(entry), autostart_entry("/usr/bin/mirravale"));
}

TEST(Login, FailuresAreLoggedAndChangeNothing) {
    TempDir dir;
    // The autostart folder cannot be made: a plain file is in its way (this also holds for
    // root, which ignores permission bits).
    put(dir.path() / "blocked", "");
    OpenAtLogin blocked(dir.path() / "blocked" / "autostart" / "mirravale.desktop", "/bin/m");
    {
        host::testing::LogCapture log("mirravale::ui::login");
        blocked.toggle();
        EXPECT_EQ(log.lines(),
                  "warning mirravale::ui::login could not change Open at Login: "
                  "cannot create " +
                      (dir.path() / "blocked" / "autostart").string() + ": Not a directory\n");
    }
    EXPECT_FALSE(blocked.enabled());

    // An entry that cannot be removed (a folder with something in it) stays on.
    const fs::path stuck = dir.path() / "stuck.desktop";
    fs::create_directories(stuck / "inside");
    OpenAtLogin login(stuck, "/bin/m");
    ASSERT_TRUE(login.enabled());
    {
        host::testing::LogCapture log("mirravale::ui::login");
        login.toggle();
        EXPECT_NE(log.lines().find("warning mirravale::ui::login could not change Open at "
                                   "Login: cannot remove " +
                                   stuck.string() + ": "),
                  std::string::npos)
            << log.lines();
    }
    EXPECT_TRUE(login.enabled());
}

TEST(Login, AProgramPathThatIsNotUtf8IsRefused) {
    TempDir dir;
    OpenAtLogin login(dir.path() / "mirravale.desktop", "/opt/\xff/mirravale");
    const Status on = login.set(true);
    ASSERT_FALSE(on.ok());
    EXPECT_EQ(on.error(), "the program's path is not UTF-8: /opt/\xEF\xBF\xBD/mirravale");
    EXPECT_FALSE(login.enabled());
}

TEST(Login, EntryLivesInTheConfigHome) {
    struct {
        const char* xdg;
        const char* home;
        std::optional<std::string> expected;
    } cases[] = {
        {"/cfg", "/home/u", "/cfg/autostart/mirravale.desktop"},
        {nullptr, "/home/u", "/home/u/.config/autostart/mirravale.desktop"},
        {"", "/home/u", "/home/u/.config/autostart/mirravale.desktop"},
        {"relative/cfg", "/home/u", "/home/u/.config/autostart/mirravale.desktop"},
        {nullptr, nullptr, std::nullopt},
        {"", "", std::nullopt},
    };
    for (const auto& c : cases) {
        EnvVar xdg("XDG_CONFIG_HOME", c.xdg);
        EnvVar home("HOME", c.home);
        const auto path = autostart_path();
        ASSERT_EQ(path.ok(), c.expected.has_value()) << (c.xdg ? c.xdg : "(unset)");
        if (path) {
            EXPECT_EQ(path->string(), *c.expected);
        }
    }
}

TEST(Login, ThisProgramIsTheRunningExecutable) {
    const auto program = this_program();
    ASSERT_TRUE(program.ok()) << program.error();
    EXPECT_EQ(fs::path(*program).filename(), "host_tests");
    EXPECT_TRUE(fs::exists(*program));
}

}  // namespace
}  // namespace mirravale::host::ui

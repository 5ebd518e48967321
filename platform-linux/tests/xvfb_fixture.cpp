#include "platform-linux/tests/xvfb_fixture.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

extern char** environ;

namespace mirravale::platform::testing {
namespace {

// Long enough for a loaded machine running sanitizers; only a broken server takes it.
constexpr int START_LIMIT_MS = 30000;

std::string random_cookie() {
    std::random_device random;
    std::string cookie;
    for (int i = 0; i < 16; ++i) {
        cookie += "0123456789abcdef"[random() % 16];
        cookie += "0123456789abcdef"[random() % 16];
    }
    return cookie;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

// The environment with DISPLAY and XAUTHORITY replaced.
std::vector<std::string> environment(const std::string& display, const std::string& authority) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        if (!entry.starts_with("DISPLAY=") && !entry.starts_with("XAUTHORITY=")) {
            env.emplace_back(entry);
        }
    }
    if (!display.empty()) {
        env.push_back("DISPLAY=" + display);
    }
    if (!authority.empty()) {
        env.push_back("XAUTHORITY=" + authority);
    }
    return env;
}

// xauth complains about a cookie file that does not exist yet.
void create_empty(const std::string& path) {
    std::ofstream file(path);
}

Status run_command(std::vector<std::string> command, const std::string& display,
                   const std::string& authority) {
    auto env = environment(display, authority);
    auto argv = pointers(command);
    auto envp = pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return fail(command[0] + ": " + std::strerror(error));
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return fail(command[0] + " failed status=" + std::to_string(status));
    }
    return {};
}

std::string read_file(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

Result<std::unique_ptr<Xvfb>> Xvfb::start(const XvfbOptions& options) {
    std::unique_ptr<Xvfb> server(new Xvfb());
    char directory[] = "/tmp/mirravale-xvfb-XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        return fail(std::string("mkdtemp: ") + std::strerror(errno));
    }
    server->directory_ = directory;
    const std::string cookie = random_cookie();
    const std::string server_authority = server->directory_ + "/server-authority";
    if (options.access_control) {
        create_empty(server_authority);
        // The server takes every cookie of its file, whatever display the entry names.
        if (auto added = run_command(
                {"xauth", "-q", "-f", server_authority, "add", ":0", ".", cookie}, "", "");
            !added) {
            return fail(added.error());
        }
    }

    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        return fail(std::string("pipe: ") + std::strerror(errno));
    }
    std::vector<std::string> command = {
        "Xvfb",
        "-displayfd",
        std::to_string(ready[1]),
        "-screen",
        "0",
        std::to_string(options.width) + "x" + std::to_string(options.height) + "x24",
        "-nolisten",
        "tcp",
        "-noreset"};
    if (options.access_control) {
        command.insert(command.end(), {"-auth", server_authority});
    }
    command.insert(command.end(), options.arguments.begin(), options.arguments.end());
    auto argv = pointers(command);
    const std::string log = server->directory_ + "/xvfb.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Same descriptor: the child keeps it open across exec.
    posix_spawn_file_actions_adddup2(&actions, ready[1], ready[1]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int error = posix_spawnp(&server->pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ready[1]);
    if (error != 0) {
        close(ready[0]);
        server->pid_ = -1;
        return fail(std::string("Xvfb: ") + std::strerror(error));
    }
    std::string number;
    for (;;) {
        pollfd wait{ready[0], POLLIN, 0};
        if (poll(&wait, 1, START_LIMIT_MS) <= 0) {
            break;
        }
        char c;
        if (read(ready[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    close(ready[0]);
    if (number.empty()) {
        return fail("Xvfb did not start: " + read_file(log));
    }
    server->display_ = ":" + number;
    if (options.access_control) {
        server->authority_ = server->directory_ + "/authority";
        create_empty(server->authority_);
        if (auto added = run_command(
                {"xauth", "-q", "-f", server->authority_, "add", server->display_, ".", cookie}, "",
                "");
            !added) {
            return fail(added.error());
        }
    }
    if (!options.monitors.empty()) {
        if (auto set = server->set_monitors(options.monitors); !set) {
            return fail(set.error());
        }
    }
    return server;
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

Result<std::string> Xvfb::untrusted_authority() const {
    const std::string file = directory_ + "/untrusted";
    create_empty(file);
    if (auto made = run_command(
            {"xauth", "-q", "-f", file, "generate", display_, ".", "untrusted", "timeout", "3600"},
            display_, authority_);
        !made) {
        return fail(made.error());
    }
    return file;
}

Status Xvfb::set_monitors(const std::vector<VirtualMonitor>& monitors) const {
    for (const auto& name : monitor_names_) {
        if (auto removed = run({"xrandr", "--delmonitor", name}); !removed) {
            return removed;
        }
    }
    monitor_names_.clear();
    for (const auto& m : monitors) {
        // Physical sizes at 96 dots per inch; nothing here reads them.
        const auto geometry = std::to_string(m.width) + "/" + std::to_string(m.width * 254 / 960) +
                              "x" + std::to_string(m.height) + "/" +
                              std::to_string(m.height * 254 / 960) + "+" + std::to_string(m.x) +
                              "+" + std::to_string(m.y);
        if (auto added = run({"xrandr", "--setmonitor", (m.primary ? "*" : "") + m.name, geometry,
                              m.with_output ? "screen" : "none"});
            !added) {
            return added;
        }
        monitor_names_.push_back(m.name);
    }
    return {};
}

Status Xvfb::run(const std::vector<std::string>& command) const {
    return run_command(command, display_, authority_);
}

ScopedAuthority::ScopedAuthority(const std::string& file) {
    if (const char* value = std::getenv("XAUTHORITY")) {
        had_ = true;
        previous_ = value;
    }
    setenv("XAUTHORITY", file.c_str(), 1);
}

ScopedAuthority::~ScopedAuthority() {
    if (had_) {
        setenv("XAUTHORITY", previous_.c_str(), 1);
    } else {
        unsetenv("XAUTHORITY");
    }
}

XvfbOptions two_monitors() {
    XvfbOptions options;
    options.width = 3840;
    options.height = 1080;
    options.monitors = {{"left", 0, 0, 1920, 1080, false, true},
                        {"right", 1920, 0, 1920, 1080, false, false}};
    return options;
}

}  // namespace mirravale::platform::testing

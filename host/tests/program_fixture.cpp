#include "host/tests/program_fixture.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

extern char** environ;

namespace mirravale::host::testing {

namespace fs = std::filesystem;

namespace {

// The environment of this process without the given names, plus the given pairs.
std::vector<std::string> environment_with(
    const std::vector<std::string>& removed,
    const std::vector<std::pair<std::string, std::string>>& added) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto name = text.substr(0, text.find('='));
        bool drop = false;
        for (const auto& r : removed)
            drop = drop || name == r;
        for (const auto& [key, value] : added)
            drop = drop || name == key;
        if (!drop)
            result.push_back(text);
    }
    for (const auto& [key, value] : added)
        result.push_back(key + "=" + value);
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> result;
    for (auto& word : words)
        result.push_back(word.data());
    result.push_back(nullptr);
    return result;
}

// Starts the command with its standard output and error on the write end of a pipe; gives the
// child's pid and the read end, or -1 and -1.
std::pair<pid_t, int> spawn(std::vector<std::string> command,
                            std::vector<std::string> environment) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    auto argv = pointers(command);
    auto envp = pointers(environment);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        return {-1, -1};
    }
    return {pid, fds[0]};
}

int exit_status(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::uint16_t free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0)
        close(fd);
    return port;
}

TempDir::TempDir(const std::string& prefix) {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            (prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

DecodedVideo probe_video(const fs::path& video) {
    const auto json = video.string() + ".json";
    const auto probe =
        run({"ffprobe", "-v", "error", "-f", "h264", "-show_entries",
             "stream=profile:frame=width,height", "-of", "json", "-o", json, video.string()});
    DecodedVideo decoded;
    decoded.complaints = probe.output;
    const auto answer = nlohmann::json::parse(slurp(json), nullptr, false);
    if (answer.is_discarded() || probe.status != 0) {
        decoded.complaints += "\nffprobe gave no answer";
        return decoded;
    }
    if (answer.contains("streams") && !answer["streams"].empty())
        decoded.profile = answer["streams"][0].value("profile", "");
    for (const auto& frame : answer.value("frames", nlohmann::json::array()))
        decoded.sizes.emplace_back(frame.value("width", 0), frame.value("height", 0));
    return decoded;
}

PhoneRun run(const std::vector<std::string>& command,
             const std::vector<std::pair<std::string, std::string>>& environment) {
    const auto [pid, fd] = spawn(command, environment_with({}, environment));
    if (pid < 0)
        return {-1, "cannot start " + command.front()};
    PhoneRun result;
    char buffer[4096];
    for (;;) {
        const auto n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            result.output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(fd);
    result.status = exit_status(pid);
    return result;
}

Program::Program(ProgramOptions options) : dir_("mirravale-program"), port_(free_port()) {
    std::vector<std::string> command = {MIRRAVALE_BIN};
    if (options.headless)
        command.push_back("--headless");
    if (options.test_pattern)
        command.push_back("--test-pattern");
    for (const auto& word :
         std::vector<std::string>{"--name", options.name, "--data", (dir() / "data").string(),
                                  "--port", std::to_string(port_)}) {
        command.push_back(word);
    }
    command.insert(command.end(), options.extra_arguments.begin(), options.extra_arguments.end());
    auto environment = options.environment;
    environment.insert(environment.begin(), {"NO_COLOR", "1"});
    const auto [pid, fd] =
        spawn(command, environment_with({"DISPLAY", "WAYLAND_DISPLAY"}, environment));
    pid_ = pid;
    if (pid_ < 0) {
        ended_ = true;
        output_ = "cannot start the program";
        return;
    }
    reader_ = std::thread([this, fd = fd] { read_output(fd); });
}

Program::~Program() {
    stop();
}

void Program::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        exit_status(pid_);
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
}

void Program::read_output(int fd) {
    std::ofstream file(dir() / "host.out", std::ios::binary);
    char buffer[4096];
    for (;;) {
        const auto n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        file.write(buffer, n);
        file.flush();
        std::lock_guard lock(mutex_);
        output_.append(buffer, static_cast<std::size_t>(n));
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

std::string Program::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

std::size_t Program::mark() const {
    std::lock_guard lock(mutex_);
    return output_.size();
}

std::optional<std::string> Program::wait_for(const std::regex& pattern, std::size_t from,
                                             std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(mutex_);
    for (;;) {
        std::smatch match;
        const std::string tail = output_.substr(std::min(from, output_.size()));
        if (std::regex_search(tail, match, pattern))
            return match.str();
        if (ended_)
            return std::nullopt;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> Program::link() {
    return wait_for(std::regex("mirravale://pair\\?[^\\s]+"));
}

PhoneRun Program::pair() {
    const auto url = link();
    if (!url)
        return {-1, "the program printed no pairing link:\n" + output()};
    return phone({"pair", *url});
}

PhoneRun Program::phone(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command = {MIRRAVALE_PHONE_BIN, "--state",
                                        (dir() / "phone.state").string(), "--address", address()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run(command);
}

}  // namespace mirravale::host::testing

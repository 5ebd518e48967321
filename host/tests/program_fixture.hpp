#pragma once
// Starts the built program on a private data directory and a free port, watches its output, and
// runs the phone tool against it. Shared by the tests that exercise the whole program.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace mirravale::host::testing {

std::string slurp(const std::filesystem::path& path);
std::uint16_t free_port();

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

struct ProgramOptions {
    bool headless = true;
    bool test_pattern = true;
    std::string name = "Test Host";
    // Set for the program after DISPLAY and WAYLAND_DISPLAY were removed from its environment,
    // so it sees an X server only when a test gives one ({"DISPLAY", ":7"}).
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<std::string> extra_arguments;
};

struct PhoneRun {
    int status = -1;     // the exit status, or -1 when it did not exit normally
    std::string output;  // standard output and standard error, interleaved
};

// The running program. Its standard output (and error) goes into `host.out` in its directory and
// into memory, where tests wait for lines. Killed and reaped on destruction.
class Program {
  public:
    explicit Program(ProgramOptions options = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const std::filesystem::path& dir() const { return dir_.path(); }
    std::uint16_t port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Everything printed so far, and its length (a mark for `wait_for`).
    std::string output() const;
    std::size_t mark() const;
    // The first match of the pattern in the output after `from`, waiting for the program to print
    // it; nothing when the program ends or `limit` passes first.
    std::optional<std::string> wait_for(const std::regex& pattern, std::size_t from = 0,
                                        std::chrono::seconds limit = std::chrono::seconds(30));
    // The pairing link as printed (`mirravale://pair?...`), or nothing.
    std::optional<std::string> link();
    // Pairs the phone tool with the link and keeps its state in `phone.state`; the tool's output.
    PhoneRun pair();

    // Runs `mirravale-phone --state <dir>/phone.state --address 127.0.0.1:<port> ARGS...` to its
    // end. Exactly the given words are passed: no shell.
    PhoneRun phone(const std::vector<std::string>& arguments) const;

    // The program's exit: kills it with SIGTERM unless it already ended.
    void stop();

  private:
    void read_output(int fd);

    TempDir dir_;
    std::uint16_t port_;
    pid_t pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    bool ended_ = false;
};

// What ffprobe decodes of an H.264 byte stream.
struct DecodedVideo {
    std::string profile;                     // of the first parameter sets
    std::vector<std::pair<int, int>> sizes;  // width and height of each decoded frame
    std::string complaints;                  // anything ffprobe said besides its answer
};
DecodedVideo probe_video(const std::filesystem::path& video);

// Runs a program with its arguments to its end (no shell), its output captured.
PhoneRun run(const std::vector<std::string>& command,
             const std::vector<std::pair<std::string, std::string>>& environment = {});

}  // namespace mirravale::host::testing

// The program itself, headless on a private data directory, paired by the phone tool.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <asio/ip/tcp.hpp>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::uint16_t free_port() {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::address_v4::any(), 0});
    return acceptor.local_endpoint().port();
}

// Polls a growing file for a pattern (the program writes to it as it runs).
std::string wait_for(const fs::path& path, const std::regex& pattern) {
    for (int i = 0; i < 200; ++i) {
        const auto text = slurp(path);
        if (std::regex_search(text, pattern))
            return text;
        std::this_thread::sleep_for(50ms);
    }
    return slurp(path);
}

struct Host {
    pid_t pid = -1;
    ~Host() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

TEST(Program, HeadlessHostPairsWithThePhoneTool) {
    const fs::path dir =
        fs::temp_directory_path() / ("mirravale-program-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const auto out = dir / "host.out";
    const auto port = std::to_string(free_port());

    Host host;
    host.pid = fork();
    if (host.pid == 0) {
        freopen(out.c_str(), "w", stdout);
        setenv("NO_COLOR", "1", 1);
        execl(MIRRAVALE_BIN, MIRRAVALE_BIN, "--headless", "--test-pattern", "--name", "Test Host",
              "--data", (dir / "data").c_str(), "--port", port.c_str(), nullptr);
        _exit(127);
    }
    const std::regex link_pattern("mirravale://pair\\?[^\\s]+");
    const auto printed = wait_for(out, link_pattern);
    std::smatch link;
    ASSERT_TRUE(std::regex_search(printed, link, link_pattern)) << printed;
    EXPECT_NE(printed.find("  Scan with Mirravale on your iPhone to control Test Host.\n"),
              std::string::npos);
    EXPECT_NE(printed.find("  Link: " + link.str() + "\n\n"), std::string::npos);

    const std::string pair = std::string(MIRRAVALE_PHONE_BIN) + " --state " +
                             (dir / "phone.state").string() + " --address 127.0.0.1:" + port +
                             " pair '" + link.str() + "' > " + (dir / "phone.out").string() +
                             " 2>&1";
    ASSERT_EQ(std::system(pair.c_str()), 0) << slurp(dir / "phone.out");
    // A second visit that stays a moment, so the terminal shows the connection whatever its pace
    // (it prints the latest status, and a visit shorter than its reaction can pass unseen).
    const std::string visit = std::string(MIRRAVALE_PHONE_BIN) + " --state " +
                              (dir / "phone.state").string() + " --address 127.0.0.1:" + port +
                              " stream --seconds 1 >> " + (dir / "phone.out").string() + " 2>&1";
    ASSERT_EQ(std::system(visit.c_str()), 0) << slurp(dir / "phone.out");
    EXPECT_NE(wait_for(out, std::regex("● Connected: mirravale-phone"))
                  .find("● Connected: mirravale-phone\n"),
              std::string::npos);

    const auto trust = dir / "data" / "trusted-devices.json";
    ASSERT_TRUE(fs::exists(trust));
    struct stat info {};
    stat(trust.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0600);
    EXPECT_TRUE(std::regex_match(
        slurp(trust), std::regex("\\[\n  \\{\n    \"device_id\": \"[0-9a-f]{32}\",\n    \"name\": "
                                 "\"mirravale-phone\",\n    \"token_hash\": \"[0-9a-f]{64}\",\n    "
                                 "\"paired_at\": [0-9]+,\n    \"last_seen\": [0-9]+\n  \\}\n\\]")))
        << slurp(trust);

    // The link's fingerprint is the certificate file's SHA-256, as openssl computes it.
    const std::string digest = "openssl dgst -sha256 -binary " +
                               (dir / "data" / "certificate.der").string() +
                               " | basenc --base64url | tr -d '=\\n' > " + (dir / "fp").string();
    ASSERT_EQ(std::system(digest.c_str()), 0);
    EXPECT_NE(link.str().find("&fp=" + slurp(dir / "fp") + "&"), std::string::npos);
    fs::remove_all(dir);
}

}  // namespace

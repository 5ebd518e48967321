// DNS-SD through a private system bus and an Avahi daemon restricted to loopback, both started
// and stopped here (the default daemon configuration would announce on every interface).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include <spdlog/sinks/ringbuffer_sink.h>

#include "core/log.hpp"
#include "net/bonjour.hpp"

namespace mirravale::net {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string run(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        pclose(pipe);
    }
    return out;
}

core::HostIdentity identity() {
    core::HostIdentity id;
    id.name = "Bonjour Test";
    for (std::uint8_t i = 0; i < 16; ++i)
        id.host_id[i] = i;
    return id;
}

class LoopbackAvahi {
  public:
    LoopbackAvahi() {
        // A system bus or daemon that already runs is used as it is and never stopped.
        if (!avahi_running()) {
            start();
        }
    }
    static bool avahi_running() {
        return run("avahi-browse -at -p 2>&1").find("Daemon not running") == std::string::npos;
    }

  private:
    void start() {
        const bool bus = std::system(
                             "dbus-send --system --dest=org.freedesktop.DBus --print-reply / "
                             "org.freedesktop.DBus.GetId >/dev/null 2>&1") == 0;
        if (!bus) {
            fs::create_directories("/run/dbus");
            fs::remove("/run/dbus/pid");
            fs::remove("/run/dbus/system_bus_socket");
            bus_pid_ = std::atoi(run("dbus-daemon --system --fork --print-pid").c_str());
        }
        conf_ =
            fs::temp_directory_path() / ("mirravale-avahi-" + std::to_string(getpid()) + ".conf");
        std::ofstream(conf_) << "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\n"
                                "[publish]\npublish-workstation=no\n";
        avahi_pid_ = fork();
        if (avahi_pid_ == 0) {
            freopen("/dev/null", "w", stderr);
            execlp("avahi-daemon", "avahi-daemon", "-f", conf_.c_str(), "--no-drop-root",
                   "--no-chroot", nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100 && !avahi_running(); ++i) {
            std::this_thread::sleep_for(50ms);
        }
    }

  public:
    ~LoopbackAvahi() {
        if (avahi_pid_ > 0) {
            kill(avahi_pid_, SIGTERM);
            waitpid(avahi_pid_, nullptr, 0);
        }
        if (bus_pid_ > 0) {
            // The bus daemon may have inherited a mask that blocks SIGTERM.
            kill(bus_pid_, SIGKILL);
            fs::remove("/run/dbus/pid");
            fs::remove("/run/dbus/system_bus_socket");
        }
        if (!conf_.empty())
            fs::remove(conf_);
    }

  private:
    pid_t bus_pid_ = -1;
    pid_t avahi_pid_ = -1;
    fs::path conf_;
};

TEST(Bonjour, AdvertisesOnLoopbackAndWithdraws) {
    ASSERT_EQ(getuid(), 0u) << "the private system bus needs root";
    if (!LoopbackAvahi::avahi_running()) {
        // No daemon: a WARN with Avahi's signed error code, no registration, and the host goes on.
        auto logger = log::get("mirravale_net::bonjour");
        auto captured = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(8);
        captured->set_pattern("%l %v");
        logger->sinks().push_back(captured);
        EXPECT_EQ(advertise(identity(), 47999), nullptr);
        logger->sinks().pop_back();
        const auto lines = captured->last_formatted();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].starts_with("warning Bonjour registration failed (-")) << lines[0];
        EXPECT_TRUE(lines[0].ends_with("); phones will use the addresses in the QR code\n"))
            << lines[0];
    }
    LoopbackAvahi daemon;
    auto registration = advertise(identity(), 47999);
    ASSERT_NE(registration, nullptr);
    std::string seen;
    for (int i = 0; i < 50 && seen.find("=;") == std::string::npos; ++i) {
        seen = run("avahi-browse -rtp _mirravale._tcp 2>/dev/null");
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_NE(seen.find("Bonjour\\032Test;_mirravale._tcp"), std::string::npos) << seen;
    EXPECT_NE(seen.find(";47999;"), std::string::npos) << seen;
    EXPECT_NE(seen.find("\"id=000102030405060708090a0b0c0d0e0f\" \"v=1\" \"n=Bonjour Test\""),
              std::string::npos)
        << seen;
    registration.reset();
    for (int i = 0; i < 50 && seen.find("=;") != std::string::npos; ++i) {
        std::this_thread::sleep_for(100ms);
        seen = run("avahi-browse -rtp _mirravale._tcp 2>/dev/null");
    }
    EXPECT_EQ(seen.find("=;"), std::string::npos) << seen;
}

}  // namespace
}  // namespace mirravale::net

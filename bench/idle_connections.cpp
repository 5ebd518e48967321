// Idle connections against the real listener: 1,000 TCP clients that never speak, a phone that
// pairs meanwhile, the host's memory and threads while they wait, and all of them closed at the
// handshake limit. Then accept failing for lack of descriptors: the CPU it costs.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/service.hpp"
#include "net/runtime.hpp"
#include "net/server.hpp"
#include "platform-linux/headless_ports.hpp"
#include "tools/phone/client.hpp"

namespace {

using namespace mirravale;
using Clock = std::chrono::steady_clock;

long status_field(const char* name) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name, 0) == 0) return std::stol(line.substr(std::string(name).size()));
    }
    return -1;
}

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class MemoryTrust : public core::TrustStore {
public:
    Result<std::vector<core::TrustedDevice>> load() override { return std::vector<core::TrustedDevice>{}; }
    Status save(const std::vector<core::TrustedDevice>&) override { return {}; }
};

}  // namespace

int main() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    auto identity = *net::TlsIdentity::generate("bench");
    core::Ports ports{nullptr, std::make_shared<platform::HeadlessInput>(),
                      std::make_shared<platform::HeadlessDisplays>(true),
                      std::make_shared<platform::HeadlessPermissions>(),
                      std::make_shared<platform::HeadlessPower>(), std::make_shared<MemoryTrust>()};
    auto service = core::HostService::create({"bench", {}, identity.fingerprint()}, ports, {});
    net::Runtime runtime;
    auto started = net::start_network(runtime.context(), service, identity, 0);
    if (!started) {
        std::fprintf(stderr, "%s\n", started.error().c_str());
        return 1;
    }
    const asio::ip::tcp::endpoint host(asio::ip::make_address("127.0.0.1"), started->port);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long rss_before = status_field("VmRSS:");

    asio::io_context io;
    std::vector<asio::ip::tcp::socket> idle;
    constexpr int IDLE = 1000;
    for (int i = 0; i < IDLE; ++i) {
        idle.emplace_back(io).connect(host);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long rss_during = status_field("VmRSS:");
    const long threads = status_field("Threads:");

    const auto url = service->status().latest().first.invite_url;
    const auto code = url.substr(url.find("&c=") + 3, 26);
    const auto pair_start = Clock::now();
    auto phone = phone::Client::connect({host}, identity.fingerprint());
    bool paired = false;
    if (phone) {
        wire::client::Hello hello;
        hello.version = 1;
        hello.device_name = "bench phone";
        hello.auth = {wire::HelloAuth::PairingCode{code}};
        paired = (*phone)->send({hello}).ok() && (*phone)->receive().ok();
    }
    const double pair_ms =
        std::chrono::duration<double, std::milli>(Clock::now() - pair_start).count();

    // Every idle client is closed by the host at the handshake limit.
    const auto wait_start = Clock::now();
    int closed = 0;
    for (auto& socket : idle) {
        char byte;
        asio::error_code ec;
        socket.read_some(asio::buffer(&byte, 1), ec);
        closed += ec ? 1 : 0;
    }
    const double closed_after =
        std::chrono::duration<double>(Clock::now() - wait_start).count() + 0.5;
    idle.clear();

    std::printf("idle connections: %d, host RSS before %ld kB, during %ld kB: %.1f kB each (the "
                "clients' side included)\n",
                IDLE, rss_before, rss_during, double(rss_during - rss_before) / IDLE);
    std::printf("threads while they wait: %ld (3 network workers, main, and Avahi's when it runs)\n",
                threads);
    std::printf("a phone paired meanwhile: %s in %.1f ms\n", paired ? "yes" : "NO", pair_ms);
    std::printf("closed by the host: %d of %d, about %.1f s after they connected\n", closed, IDLE,
                closed_after);

    // Out of descriptors: accept fails at once; the retry pause keeps that from spinning.
    getrlimit(RLIMIT_NOFILE, &limit);
    long open_now = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++open_now;
    }
    limit.rlim_cur = static_cast<rlim_t>(open_now + 40);
    setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<asio::ip::tcp::socket> blocked;
    asio::error_code ec;
    for (int i = 0; i < 200 && !ec; ++i) {
        asio::ip::tcp::socket s(io);
        s.connect(host, ec);
        if (!ec) blocked.push_back(std::move(s));
    }
    const double cpu_start = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double cpu_used = cpu_seconds() - cpu_start;
    std::printf("accept failing without descriptors: %.1f%% of a core over 2 s\n",
                cpu_used / 2 * 100);
    std::fflush(stdout);
    std::_Exit(0);  // the listener keeps failing; no orderly shutdown is needed to report
}

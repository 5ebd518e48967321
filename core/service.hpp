#pragma once
// The host's shared state: identity, settings, ports, pairing and trust books, addresses, the
// controlling phone and the notice. One lock guards it all; every change publishes a status.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/ip/tcp.hpp>

#include "core/flow.hpp"
#include "core/identity.hpp"
#include "core/kick.hpp"
#include "core/pairing.hpp"
#include "core/policy.hpp"
#include "core/ports.hpp"
#include "core/random.hpp"
#include "core/status.hpp"
#include "core/trust.hpp"
#include "wire/messages.hpp"

namespace mirravale::core {

struct ServiceConfig {
    std::uint64_t code_ttl = 600;  // seconds
    std::chrono::milliseconds hello_timeout{10'000};
    std::chrono::milliseconds quiet_timeout{10'000};
    std::chrono::milliseconds cursor_interval{33};
    StreamLimits limits;
    std::uint32_t frames_in_flight = FRAMES_IN_FLIGHT;
    // Fixed by the protocol; only tests shorten them.
    std::chrono::milliseconds refusal_delay{400};
    std::chrono::milliseconds goodbye_wait{1000};
    std::chrono::milliseconds housekeeping_interval{1000};
};

// Whole Unix seconds of the wall clock, 0 before 1970.
using WallClock = std::function<std::uint64_t()>;
std::uint64_t system_wall_clock();

struct Refusal {
    wire::ErrorCode code;
    std::string message;
};

struct Login {
    std::optional<Token> token;  // only when the phone paired by code
};

struct Claim {
    std::uint64_t claim_id = 0;
    std::shared_ptr<KickChannel> kick;
};

class HostService {
  public:
    static std::shared_ptr<HostService> create(HostIdentity identity, Ports ports,
                                               ServiceConfig config,
                                               RandomSource random = secure_random(),
                                               WallClock clock = system_wall_clock);

    Result<Login, Refusal> authenticate(const wire::client::Hello& hello);
    // Takes control for a phone; a previous controller is sent `Replaced`.
    Claim claim(const std::string& device_name, const asio::any_io_executor& executor);
    // Gives control back, only if this claim still holds it.
    void release(std::uint64_t claim_id);
    void set_stream(std::uint64_t claim_id, std::optional<StreamInfo> stream);
    void set_notice(std::optional<std::string> notice);
    void set_addresses(std::vector<asio::ip::tcp::endpoint> addresses);
    void tick();
    void new_code();
    void disconnect();
    void forget_all_devices();

    const HostIdentity& identity() const { return identity_; }
    const ServiceConfig& config() const { return config_; }
    const Ports& ports() const { return ports_; }
    const StatusNotifier& status() const { return notifier_; }
    std::uint64_t now() const { return clock_(); }

  private:
    struct Controller {
        std::unique_ptr<KickSender> kick;
        std::string device_name;
        std::optional<StreamInfo> stream;
        std::uint64_t claim_id = 0;
        std::uint64_t claimed_at = 0;
    };

    HostService(HostIdentity identity, Ports ports, ServiceConfig config, RandomSource random,
                WallClock clock);

    void save_devices();                               // under the lock
    void publish();                                    // under the lock
    void kick_controller(wire::GoodbyeReason reason);  // under the lock

    const HostIdentity identity_;
    const Ports ports_;
    const ServiceConfig config_;
    const WallClock clock_;
    StatusNotifier notifier_;
    std::atomic<std::uint64_t> claims_{0};

    std::mutex mutex_;
    std::optional<Controller> controller_;
    PairingBook pairing_;
    TrustBook trust_;
    std::vector<asio::ip::tcp::endpoint> addresses_;
    std::optional<std::string> notice_;
};

}  // namespace mirravale::core

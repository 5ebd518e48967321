#include "core/service.hpp"

#include <algorithm>

#include "core/log.hpp"
#include "core/session_text.hpp"

namespace mirravale::core {
namespace {

auto logger() {
    return log::get("mirravale_core::service");
}

constexpr const char* UNKNOWN_DEVICE =
    "This Mac no longer recognises your device. Scan the code on your Mac to pair again.";
constexpr const char* CODE_EXPIRED =
    "This code has already been used or has expired. Scan the new code on your Mac.";
constexpr const char* WRONG_CODE =
    "That is not this Mac's current code. Scan the code shown in Mirravale on your Mac.";

std::vector<TrustedDevice> load_devices(TrustStore& store) {
    auto loaded = store.load();
    if (!loaded) {
        logger()->warn("could not read the trusted devices, starting with none: {}",
                       loaded.error());
        return {};
    }
    return std::move(*loaded);
}

}  // namespace

std::uint64_t system_wall_clock() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    return seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds);
}

HostService::HostService(HostIdentity identity, Ports ports, ServiceConfig config,
                         RandomSource random, WallClock clock)
    : identity_(std::move(identity)),
      ports_(std::move(ports)),
      config_(config),
      clock_(std::move(clock)),
      pairing_(clock_(), config_.code_ttl, random),
      trust_(random, load_devices(*ports_.trust_store)) {}

std::shared_ptr<HostService> HostService::create(HostIdentity identity, Ports ports,
                                                 ServiceConfig config, RandomSource random,
                                                 WallClock clock) {
    std::shared_ptr<HostService> service(new HostService(
        std::move(identity), std::move(ports), config, std::move(random), std::move(clock)));
    std::lock_guard lock(service->mutex_);
    service->publish();
    return service;
}

Result<Login, Refusal> HostService::authenticate(const wire::client::Hello& hello) {
    std::lock_guard lock(mutex_);
    const auto now = clock_();
    Result<Login, Refusal> outcome = Login{};
    if (const auto* token = std::get_if<wire::HelloAuth::Token>(&hello.auth.kind)) {
        if (trust_.verify(hello.device_id, token->token)) {
            for (auto& device : trust_.devices()) {
                if (device.device_id == hello.device_id) {
                    device.last_seen = now;
                    if (!hello.device_name.empty()) {
                        device.name = hello.device_name;
                    }
                }
            }
            save_devices();
        } else {
            outcome = fail(Refusal{wire::ErrorCode::Unauthorized, UNKNOWN_DEVICE});
        }
    } else {
        const auto& code = std::get<wire::HelloAuth::PairingCode>(hello.auth.kind).code;
        switch (pairing_.redeem(code, now)) {
            case RedeemOutcome::Accepted:
                outcome = Login{trust_.enroll(hello.device_id, hello.device_name, now)};
                logger()->info("paired a new device: {}", printable(hello.device_name));
                save_devices();
                break;
            case RedeemOutcome::Expired:
                outcome = fail(Refusal{wire::ErrorCode::CodeExpired, CODE_EXPIRED});
                break;
            case RedeemOutcome::Mismatch:
                outcome = fail(Refusal{wire::ErrorCode::Unauthorized, WRONG_CODE});
                break;
        }
    }
    publish();
    return outcome;
}

Claim HostService::claim(const std::string& device_name, const asio::any_io_executor& executor) {
    const auto claim_id = claims_.fetch_add(1);
    auto channel = std::make_shared<KickChannel>(executor, 1);
    std::lock_guard lock(mutex_);
    kick_controller(wire::GoodbyeReason::Replaced);
    controller_ = Controller{std::make_unique<KickSender>(channel), device_name, std::nullopt,
                             claim_id, clock_()};
    publish();
    return {claim_id, channel};
}

void HostService::release(std::uint64_t claim_id) {
    std::lock_guard lock(mutex_);
    if (controller_ && controller_->claim_id == claim_id) {
        controller_.reset();
        publish();
    }
}

void HostService::set_stream(std::uint64_t claim_id, std::optional<StreamInfo> stream) {
    std::lock_guard lock(mutex_);
    if (controller_ && controller_->claim_id == claim_id) {
        controller_->stream = stream;
        publish();
    }
}

void HostService::set_notice(std::optional<std::string> notice) {
    std::lock_guard lock(mutex_);
    if (notice_ != notice) {
        notice_ = std::move(notice);
        publish();
    }
}

void HostService::set_addresses(std::vector<asio::ip::tcp::endpoint> addresses) {
    std::lock_guard lock(mutex_);
    if (!same_addresses(addresses_, addresses)) {
        addresses_ = std::move(addresses);
        publish();
    }
}

void HostService::tick() {
    std::lock_guard lock(mutex_);
    const auto now = clock_();
    if (now >= pairing_.current().expires_at) {
        pairing_.rotate(now);
    }
    publish();
}

void HostService::new_code() {
    std::lock_guard lock(mutex_);
    pairing_.rotate(clock_());
    publish();
}

void HostService::disconnect() {
    std::lock_guard lock(mutex_);
    kick_controller(wire::GoodbyeReason::Normal);
}

void HostService::forget_all_devices() {
    std::lock_guard lock(mutex_);
    trust_.devices().clear();
    save_devices();
    kick_controller(wire::GoodbyeReason::Revoked);
    publish();
}

void HostService::kick_controller(wire::GoodbyeReason reason) {
    if (controller_ && controller_->kick) {
        auto kick = std::move(controller_->kick);
        kick->send(reason);
    }
}

void HostService::save_devices() {
    if (auto saved = ports_.trust_store->save(trust_.devices()); !saved) {
        logger()->warn("could not save the trusted devices: {}", saved.error());
    }
}

void HostService::publish() {
    HostStatus status;
    status.host_name = identity_.name;
    status.invite_url = invite_url(identity_, addresses_, pairing_.current());
    status.code_expires_at = pairing_.current().expires_at;
    for (const auto& device : trust_.devices()) {
        status.paired_devices.push_back({device.name, device.last_seen});
    }
    std::stable_sort(status.paired_devices.begin(), status.paired_devices.end(),
                     [](const auto& a, const auto& b) { return a.last_seen > b.last_seen; });
    status.addresses = addresses_;
    if (controller_) {
        status.controller =
            ControllerInfo{controller_->device_name, controller_->claimed_at, controller_->stream};
    }
    status.permissions = ports_.permissions->permissions();
    status.notice = notice_;
    notifier_.publish(std::move(status));
}

}  // namespace mirravale::core

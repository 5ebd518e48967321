#pragma once
// The snapshot of the host that the terminal printer and the desktop interface show, and the
// single-value notification that carries it to them.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <asio/ip/tcp.hpp>

#include "wire/messages.hpp"

namespace mirravale::core {

struct StreamInfo {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t fps = 0;
    friend bool operator==(const StreamInfo&, const StreamInfo&) = default;
};

struct PairedDeviceInfo {
    std::string name;
    std::uint64_t last_seen = 0;
    friend bool operator==(const PairedDeviceInfo&, const PairedDeviceInfo&) = default;
};

struct ControllerInfo {
    std::string device_name;
    std::uint64_t since = 0;
    std::optional<StreamInfo> stream;
    friend bool operator==(const ControllerInfo&, const ControllerInfo&) = default;
};

// Same length, same addresses in the same order; IPv6 ones also with equal scope and flow label.
bool same_addresses(const std::vector<asio::ip::tcp::endpoint>& a,
                    const std::vector<asio::ip::tcp::endpoint>& b);

struct HostStatus {
    std::string host_name;
    std::string invite_url;
    std::uint64_t code_expires_at = 0;
    std::vector<PairedDeviceInfo> paired_devices;  // most recently seen first
    std::vector<asio::ip::tcp::endpoint> addresses;
    std::optional<ControllerInfo> controller;
    wire::PermissionSet permissions;
    std::optional<std::string> notice;
    friend bool operator==(const HostStatus& a, const HostStatus& b);
};

// Holds the latest status; observers are woken only when a published value differs from it.
class StatusNotifier {
  public:
    // Stores `status` and wakes every waiter unless it equals the stored value.
    void publish(HostStatus status);

    // The latest value and its version (raised by each change).
    std::pair<HostStatus, std::uint64_t> latest() const;
    // Blocks until the version differs from `seen` or the timeout passes; the latest value then.
    std::pair<HostStatus, std::uint64_t> wait_changed(std::uint64_t seen,
                                                      std::chrono::milliseconds timeout) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    HostStatus value_;
    std::uint64_t version_ = 0;
};

}  // namespace mirravale::core

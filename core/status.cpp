#include "core/status.hpp"

#include <algorithm>

#include <netinet/in.h>

namespace mirravale::core {

bool same_addresses(const std::vector<asio::ip::tcp::endpoint>& a,
                    const std::vector<asio::ip::tcp::endpoint>& b) {
    // Endpoints compare address, scope and port; the flow label counts too.
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        if (x != y) {
            return false;
        }
        if (!x.address().is_v6()) {
            return true;
        }
        const auto* x6 = reinterpret_cast<const sockaddr_in6*>(x.data());
        const auto* y6 = reinterpret_cast<const sockaddr_in6*>(y.data());
        return x6->sin6_flowinfo == y6->sin6_flowinfo;
    });
}

bool operator==(const HostStatus& a, const HostStatus& b) {
    return a.host_name == b.host_name && a.invite_url == b.invite_url &&
           a.code_expires_at == b.code_expires_at && a.paired_devices == b.paired_devices &&
           same_addresses(a.addresses, b.addresses) && a.controller == b.controller &&
           a.permissions == b.permissions && a.notice == b.notice;
}

void StatusNotifier::publish(HostStatus status) {
    {
        std::lock_guard lock(mutex_);
        if (version_ != 0 && status == value_) {
            return;
        }
        value_ = std::move(status);
        ++version_;
    }
    changed_.notify_all();
}

std::pair<HostStatus, std::uint64_t> StatusNotifier::latest() const {
    std::lock_guard lock(mutex_);
    return {value_, version_};
}

std::pair<HostStatus, std::uint64_t> StatusNotifier::wait_changed(
    std::uint64_t seen, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return version_ != seen; });
    return {value_, version_};
}

}  // namespace mirravale::core

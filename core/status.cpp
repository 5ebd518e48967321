#include "core/status.hpp"

namespace mirravale::core {

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

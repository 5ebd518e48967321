#include "core/flow.hpp"

#include <algorithm>

namespace mirravale::core {
namespace {
void raise_to(std::atomic<std::uint32_t>& value, std::uint32_t candidate) {
    auto seen = value.load();
    while (seen < candidate && !value.compare_exchange_weak(seen, candidate)) {
    }
}
}  // namespace

FrameGate::FrameGate(std::uint32_t window, std::uint32_t sent, std::uint32_t acked)
    : window_(std::max<std::uint32_t>(window, 1)), sent_(sent), acked_(acked) {}

std::shared_ptr<FrameGate> FrameGate::successor(FrameGate& old, std::uint32_t frame_counter) {
    old.close();
    return std::make_shared<FrameGate>(old.window(), frame_counter, old.acked());
}

std::uint32_t FrameGate::in_flight() const {
    const auto sent = sent_.load();
    const auto acked = acked_.load();
    return pending_.load() + (sent > acked ? sent - acked : 0);
}

bool FrameGate::admit() {
    if (closed_.load() || in_flight() >= window_) {
        return false;
    }
    pending_.fetch_add(1);
    return true;
}

void FrameGate::release() {
    auto seen = pending_.load();
    while (seen > 0 && !pending_.compare_exchange_weak(seen, seen - 1)) {
    }
}

void FrameGate::frame_queued(std::uint32_t seq) {
    raise_to(sent_, seq);
    release();
}

void FrameGate::acknowledge(std::uint32_t seq) {
    raise_to(acked_, seq);
}

void FrameGate::close() {
    closed_.store(true);
}

}  // namespace mirravale::core

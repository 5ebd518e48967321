#pragma once
// What a running pipeline reports, for tests that wait on it.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

#include "core/flow.hpp"
#include "core/ports.hpp"

namespace mirravale::platform::testing {

// Encoded frames and the other events of a pipeline; frames are acknowledged at once.
struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<core::PipelineEvent> events;
    std::shared_ptr<core::FrameGate> gate = std::make_shared<core::FrameGate>(4);
    std::uint32_t seq = 0;

    core::EventSink sink() {
        return [this](core::PipelineEvent event) {
            std::lock_guard lock(mutex);
            if (std::holds_alternative<core::pipeline::Frame>(event)) {
                gate->frame_queued(++seq);
                gate->acknowledge(seq);
            } else if (std::holds_alternative<core::pipeline::Dropped>(event)) {
                gate->release();
            }
            events.push_back(std::move(event));
            changed.notify_all();
        };
    }
    // Index of the first event from `from` on that `is` accepts.
    std::optional<std::size_t> wait_for(std::size_t from,
                                        const std::function<bool(const core::PipelineEvent&)>& is) {
        std::unique_lock lock(mutex);
        std::optional<std::size_t> found;
        changed.wait_for(lock, std::chrono::seconds(20), [&] {
            for (std::size_t i = from; i < events.size(); ++i) {
                if (is(events[i])) {
                    found = i;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    // How many events there are once there are `n`, or when waiting gave up.
    std::size_t wait_for_count(std::size_t n) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return events.size() >= n; });
        return events.size();
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return events.size();
    }
    int stops() {
        std::lock_guard lock(mutex);
        return static_cast<int>(std::count_if(events.begin(), events.end(), [](const auto& e) {
            return std::holds_alternative<core::pipeline::Stopped>(e);
        }));
    }
};

}  // namespace mirravale::platform::testing

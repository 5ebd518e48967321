#pragma once
// What a logged-in session holds, shared by the files that implement it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "core/channels.hpp"
#include "core/flow.hpp"
#include "core/ports.hpp"
#include "core/service.hpp"

namespace mirravale::core::session {

using Clock = std::chrono::steady_clock;

inline constexpr auto POINTER_TARGET_FRESH = std::chrono::milliseconds(750);

struct SentFormat {
    std::vector<wire::Bytes> parameter_sets;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t display_id = 0;
    friend bool operator==(const SentFormat&, const SentFormat&) = default;
};

class Session {
  public:
    Session(std::shared_ptr<HostService> service, std::shared_ptr<OutboundChannel> outbound,
            std::shared_ptr<EventChannel> events, std::vector<Display> displays,
            std::uint64_t claim_id, wire::PermissionSet permissions_sent);

    // Sends, waiting for room; a closed queue drops the message.
    asio::awaitable<void> send(wire::HostMessage message);
    // Offers without waiting: false when the queue is full or closed.
    bool offer(wire::HostMessage message);

    asio::awaitable<void> start_stream(const wire::client::StreamRequest& request);
    asio::awaitable<void> handle_event(std::uint64_t generation, PipelineEvent event);
    void acknowledge(std::uint32_t seq) { gate_->acknowledge(seq); }
    void request_keyframe();

    asio::awaitable<void> pointer_absolute(float x, float y);
    asio::awaitable<void> pointer_relative(float dx, float dy);
    void send_cursor();
    void set_follow(bool enabled) { follow_ = enabled; }

    asio::awaitable<void> check_permissions();
    // Closes the gate, stops the stream and lets go of every held key and button.
    void stop();

  private:
    std::optional<Display> target_display() const;
    void move_pointer(Point point);
    void forget_stream_format();
    asio::awaitable<void> forward_frame(pipeline::Frame frame);
    void pipeline_stopped(const std::string& text);

    std::shared_ptr<HostService> service_;
    std::shared_ptr<OutboundChannel> outbound_;
    std::shared_ptr<EventChannel> events_;
    std::vector<Display> displays_;
    std::optional<Display> display_;
    std::optional<SentFormat> last_format_;
    std::optional<std::pair<Point, Clock::time_point>> pointer_target_;
    std::shared_ptr<FrameGate> gate_;
    std::shared_ptr<std::atomic<bool>> keyframe_wanted_ =
        std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<PipelineHandle> pipeline_;
    std::uint64_t claim_id_;
    bool streaming_ = false;
    wire::client::StreamRequest request_;
    std::optional<CursorReport> last_cursor_;
    std::uint64_t generation_ = 0;
    std::uint32_t frame_counter_ = 0;
    bool awaiting_keyframe_ = true;
    bool follow_ = false;
    wire::PermissionSet permissions_sent_;
    std::uint8_t fps_ = 0;
};

}  // namespace mirravale::core::session

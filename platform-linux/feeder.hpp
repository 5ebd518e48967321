#pragma once
// Puts a pipeline's pictures through flow control into the current encoder, keeps the last one,
// and (with the Refresher) submits it again when the gate held it back, when a keyframe was
// asked for and has not come, or when the screen has been still for a while.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "core/flow.hpp"
#include "core/ports.hpp"
#include "platform-linux/encoder.hpp"
#include "platform-linux/picture.hpp"

namespace mirravale::platform {

using MonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

inline constexpr std::chrono::milliseconds REFRESH_PERIOD{30};
inline constexpr std::chrono::milliseconds KEYFRAME_GRACE{60};
inline constexpr std::chrono::milliseconds IDLE_THRESHOLD{400};

// Microseconds of a monotonic instant, the timestamps pictures are encoded with.
std::uint64_t monotonic_us(std::chrono::steady_clock::time_point instant);

class Feeder {
  public:
    Feeder(std::shared_ptr<H264Encoder> encoder, std::shared_ptr<core::FrameGate> gate,
           core::EventSink sink, MonotonicClock clock = {});

    // A picture of the encoder's size is encoded now if the gate admits it, and kept either way;
    // one of another size (around a size change) is let go.
    void push(PictureRef picture, std::uint64_t timestamp_us);
    void request_keyframe();
    // Frames still inside the old encoder are delivered here, under the lock, with the old size.
    void install(std::shared_ptr<H264Encoder> encoder);
    // One pass of the refresher: resubmits the kept picture when one of its reasons holds.
    void refresh();

    const core::EventSink& sink() const { return sink_; }

  private:
    std::shared_ptr<core::FrameGate> gate_;
    core::EventSink sink_;
    MonotonicClock clock_;
    std::mutex mutex_;
    PictureRef last_;
    std::chrono::steady_clock::time_point arrival_;
    std::optional<std::chrono::steady_clock::time_point> keyframe_requested_;
    std::shared_ptr<H264Encoder> encoder_;
    std::uint64_t last_submitted_us_ = 0;
    bool held_back_ = false;
    bool idle_refreshed_ = true;

    void submit_locked(const Picture& picture, std::uint64_t timestamp_us);
};

// The thread "mirravale-refresh", passing over its feeder every 30 ms until released.
class Refresher {
  public:
    // Without a thread (the system refused one) the pipeline runs unrefreshed, silently.
    static std::unique_ptr<Refresher> start(std::shared_ptr<Feeder> feeder);
    ~Refresher();
    Refresher(const Refresher&) = delete;
    Refresher& operator=(const Refresher&) = delete;

  private:
    Refresher() = default;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    std::thread thread_;
};

}  // namespace mirravale::platform

#pragma once
// The capture thread ("mirravale-capture"; Linux shows its first 15 bytes): captures one
// monitor at the planned size as soon as a change is known, at most at the planned rate, and
// hands each new picture on. A picture is new when damage touched the monitor or the cursor
// moved or changed over it; a still screen yields nothing.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/ports.hpp"
#include "platform-linux/picture.hpp"
#include "wire/result.hpp"

namespace mirravale::platform {

// How often the thread looks whether its monitor is still there (RandR reports no event for
// monitors that are added or removed).
inline constexpr std::chrono::milliseconds MONITOR_CHECK_PERIOD{500};
// Where the server reports pointer motion, how often the pointer is still read for the moves
// it does not report (warps).
inline constexpr std::chrono::milliseconds WARP_CHECK_PERIOD{100};
// How long the release waits for the thread before leaving it to end on its own.
inline constexpr std::chrono::seconds CAPTURE_STOP_LIMIT{2};

inline constexpr std::string_view CAPTURE_START_TIMED_OUT =
    "the screen stream did not start in time";

struct CaptureSettings {
    std::uint32_t width = 0;  // of the pictures handed on
    std::uint32_t height = 0;
    std::uint8_t fps = 0;  // at most this many pictures a second
};

using PictureSink = std::function<void(PictureRef picture, std::uint64_t timestamp_us)>;
// Called at most once, from the thread, when the capture ends by itself; the text says why.
using EndSink = std::function<void(const std::string& text)>;

struct CaptureStartFailure {
    std::string text;
    bool from_server = false;  // the server refused (not a time limit or a missing thread)
};

class CaptureLoop {
  public:
    // Opens its own connection to `display` on the new thread and hands on a first picture
    // before it counts as started; waits at most `limit` for that.
    static Result<std::unique_ptr<CaptureLoop>, CaptureStartFailure> start(
        const std::string& display, const core::Display& monitor, CaptureSettings settings,
        PictureSink pictures, EndSink ended, std::chrono::nanoseconds limit);
    // Stops the thread; waits for it at most CAPTURE_STOP_LIMIT. Never calls `ended`.
    ~CaptureLoop();
    CaptureLoop(const CaptureLoop&) = delete;
    CaptureLoop& operator=(const CaptureLoop&) = delete;

    // New size and rate; applied by the thread within `limit` or the error says why not.
    Status configure(CaptureSettings settings, std::chrono::nanoseconds limit);
    // Another monitor, likewise.
    Status show(const core::Display& monitor, std::chrono::nanoseconds limit);
    // The next picture is taken even if nothing changed (within the rate).
    void capture_soon();

    struct Control;

  private:
    CaptureLoop(std::shared_ptr<Control> control, std::thread thread)
        : control_(std::move(control)), thread_(std::move(thread)) {}
    std::shared_ptr<Control> control_;
    std::thread thread_;
};

}  // namespace mirravale::platform

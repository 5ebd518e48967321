#pragma once
// Streams one monitor of the X server: captured by its own thread whenever the screen changed,
// at the planned size and at most the planned rate, through the feeder into H.264.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/ports.hpp"
#include "platform-linux/capture_loop.hpp"
#include "platform-linux/feeder.hpp"

namespace mirravale::platform {

inline constexpr std::chrono::seconds CAPTURE_START_LIMIT{5};
inline constexpr std::chrono::seconds CAPTURE_UPDATE_LIMIT{2};

// A running capture. Releasing it stops the capture without reporting `Stopped`; a capture that
// ends by itself (server gone, monitor removed) reports exactly one `Stopped`.
class X11Pipeline final : public core::PipelineHandle {
  public:
    X11Pipeline(std::string display, std::shared_ptr<Feeder> feeder,
                std::shared_ptr<std::atomic<bool>> stopping, std::unique_ptr<CaptureLoop> loop,
                std::unique_ptr<Refresher> refresher);
    ~X11Pipeline() override;
    void request_keyframe() override;
    // Size and rate first, then the monitor, then a new encoder; pictures of the old size
    // still on their way are let go by the feeder.
    Status retarget(const core::StreamPlan& plan) override;

  private:
    std::string display_;
    std::shared_ptr<Feeder> feeder_;
    std::shared_ptr<std::atomic<bool>> stopping_;
    std::unique_ptr<CaptureLoop> loop_;
    std::unique_ptr<Refresher> refresher_;
};

class X11ScreenPipeline final : public core::ScreenPipeline {
  public:
    // `display` names the X display; empty: the one $DISPLAY names.
    explicit X11ScreenPipeline(std::string display = {});
    // Waits for a prewarm still running.
    ~X11ScreenPipeline() override;

    // Fills the monitor cache on the thread "mirravale-prewarm" so that the first stream need
    // not wait for the server; returns at once.
    void prewarm();

    Result<std::unique_ptr<core::PipelineHandle>> start(const core::StreamPlan& plan,
                                                        std::shared_ptr<core::FrameGate> gate,
                                                        core::EventSink sink) override;

  private:
    std::string display_;
    std::mutex prewarm_mutex_;
    std::thread prewarm_;
};

}  // namespace mirravale::platform

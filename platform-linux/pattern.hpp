#pragma once
// A moving synthetic picture streamed in place of a display: scrolling colour bars, a square
// bouncing on both axes, and the frame counter in binary along the bottom edge. The whole stream
// path runs through it without a display server.

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "core/ports.hpp"
#include "platform-linux/feeder.hpp"
#include "platform-linux/picture.hpp"

namespace mirravale::platform {

// Paints frame `n` at `t` seconds since the pipeline started; only the pixels of each row are
// written, never the padding up to the stride.
void paint_pattern(Picture& picture, double t, std::uint64_t n);

class PatternHandle final : public core::PipelineHandle {
  public:
    PatternHandle(std::shared_ptr<Feeder> feeder, std::shared_ptr<std::atomic<bool>> stop,
                  std::unique_ptr<Refresher> refresher, std::thread thread);
    // Stops and joins the painter, then the refresher; the encoder's last frames are delivered
    // before this returns.
    ~PatternHandle() override;
    void request_keyframe() override;
    Status retarget(const core::StreamPlan& plan) override;

  private:
    std::shared_ptr<Feeder> feeder_;
    std::shared_ptr<std::atomic<bool>> stop_;
    std::unique_ptr<Refresher> refresher_;
    std::thread thread_;
};

class TestPatternPipeline final : public core::ScreenPipeline {
  public:
    Result<std::unique_ptr<core::PipelineHandle>> start(const core::StreamPlan& plan,
                                                        std::shared_ptr<core::FrameGate> gate,
                                                        core::EventSink sink) override;
};

}  // namespace mirravale::platform

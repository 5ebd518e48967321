#include "platform-linux/capture.hpp"

#include <system_error>
#include <utility>

#include "core/elapsed.hpp"
#include "core/log.hpp"
#include "platform-linux/content_cache.hpp"
#include "platform-linux/encoder.hpp"
#include "platform-linux/thread_name.hpp"

namespace mirravale::platform {
namespace {

using Clock = std::chrono::steady_clock;

auto logger() {
    return log::get("mirravale_platform_linux::capture");
}

CaptureSettings settings_of(const core::StreamPlan& plan) {
    return CaptureSettings{plan.width, plan.height, plan.fps};
}

// The display `id` names on the X display, or the first one, from the cached monitor list.
Result<core::Display> find_display(const std::string& display, std::uint32_t id) {
    auto monitors = content_cache().fetch_for(display, id);
    if (!monitors) {
        return fail(monitors.error());
    }
    return choose_display(*monitors, id);
}

}  // namespace

X11Pipeline::X11Pipeline(std::string display, std::shared_ptr<Feeder> feeder,
                         std::shared_ptr<std::atomic<bool>> stopping,
                         std::unique_ptr<CaptureLoop> loop, std::unique_ptr<Refresher> refresher)
    : display_(std::move(display)),
      feeder_(std::move(feeder)),
      stopping_(std::move(stopping)),
      loop_(std::move(loop)),
      refresher_(std::move(refresher)) {}

X11Pipeline::~X11Pipeline() {
    // First, so that the end of the capture below is not reported as a failure.
    stopping_->store(true, std::memory_order_seq_cst);
    refresher_.reset();
    loop_.reset();
    // The encoder goes with the last reference to the feeder, delivering what it still holds.
    feeder_.reset();
}

void X11Pipeline::request_keyframe() {
    feeder_->request_keyframe();
}

Status X11Pipeline::retarget(const core::StreamPlan& plan) {
    const auto t0 = Clock::now();
    auto monitor = find_display(display_, plan.display_id);
    if (!monitor) {
        return fail(monitor.error());
    }
    auto encoder = H264Encoder::create(plan, feeder_->sink());
    if (!encoder) {
        return fail(encoder.error());
    }
    if (auto configured = loop_->configure(settings_of(plan), CAPTURE_UPDATE_LIMIT); !configured) {
        return configured;
    }
    if (auto shown = loop_->show(*monitor, CAPTURE_UPDATE_LIMIT); !shown) {
        return shown;
    }
    feeder_->install(std::move(*encoder));
    // The pictures taken since the new size was set went to the old encoder's size check and
    // were let go; the new encoder needs one of its own even if the screen stays still.
    loop_->capture_soon();
    logger()->info("screen capture retargeted in {} display={} width={} height={}",
                   format_elapsed(Clock::now() - t0), plan.display_id, plan.width, plan.height);
    return {};
}

X11ScreenPipeline::X11ScreenPipeline(std::string display) : display_(std::move(display)) {}

X11ScreenPipeline::~X11ScreenPipeline() {
    std::lock_guard lock(prewarm_mutex_);
    if (prewarm_.joinable()) {
        prewarm_.join();
    }
}

void X11ScreenPipeline::prewarm() {
    std::lock_guard lock(prewarm_mutex_);
    if (prewarm_.joinable()) {
        return;
    }
    try {
        prewarm_ = std::thread([display = display_] {
            // "mirravale-prewarm" is longer than Linux keeps: it shows as its first 15 bytes.
            set_thread_name("mirravale-prewarm");
            if (auto fetched = content_cache().fetch(display, true); !fetched) {
                logger()->warn("screen capture is not available yet: {}", fetched.error());
            }
        });
    } catch (const std::system_error&) {
        // Without the thread the first stream asks the server itself.
    }
}

Result<std::unique_ptr<core::PipelineHandle>> X11ScreenPipeline::start(
    const core::StreamPlan& plan, std::shared_ptr<core::FrameGate> gate, core::EventSink sink) {
    const auto t0 = Clock::now();
    auto monitor = find_display(display_, plan.display_id);
    if (!monitor) {
        return fail(monitor.error());
    }
    logger()->debug("display found in {}", format_elapsed(Clock::now() - t0));

    auto encoder = H264Encoder::create(plan, sink);
    if (!encoder) {
        return fail(encoder.error());
    }
    auto feeder = std::make_shared<Feeder>(std::move(*encoder), std::move(gate), std::move(sink));
    auto stopping = std::make_shared<std::atomic<bool>>(false);
    PictureSink pictures = [feeder](PictureRef picture, std::uint64_t timestamp_us) {
        feeder->push(std::move(picture), timestamp_us);
    };
    EndSink ended = [feeder, stopping](const std::string& text) {
        if (stopping->load(std::memory_order_acquire)) {
            return;
        }
        logger()->warn("screen capture stopped: {}", text);
        feeder->sink()(core::pipeline::Stopped{text});
    };
    auto loop = CaptureLoop::start(display_, *monitor, settings_of(plan), std::move(pictures),
                                   std::move(ended), CAPTURE_START_LIMIT);
    if (!loop) {
        const auto& failure = loop.error();
        return fail(failure.from_server ? rewritten(failure.text, display_) : failure.text);
    }
    logger()->info("screen capture running after {} width={} height={} fps={}",
                   format_elapsed(Clock::now() - t0), plan.width, plan.height,
                   static_cast<unsigned>(plan.fps));
    auto refresher = Refresher::start(feeder);
    return std::unique_ptr<core::PipelineHandle>(std::make_unique<X11Pipeline>(
        display_, std::move(feeder), std::move(stopping), std::move(*loop), std::move(refresher)));
}

}  // namespace mirravale::platform

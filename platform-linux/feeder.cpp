#include "platform-linux/feeder.hpp"

#include <system_error>
#include <utility>

#include "platform-linux/thread_name.hpp"

namespace mirravale::platform {

std::uint64_t monotonic_us(std::chrono::steady_clock::time_point instant) {
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(instant.time_since_epoch()).count();
    return us < 0 ? 0 : static_cast<std::uint64_t>(us);
}

Feeder::Feeder(std::shared_ptr<H264Encoder> encoder, std::shared_ptr<core::FrameGate> gate,
               core::EventSink sink, MonotonicClock clock)
    : gate_(std::move(gate)),
      sink_(std::move(sink)),
      clock_(clock ? std::move(clock) : MonotonicClock(&std::chrono::steady_clock::now)),
      arrival_(clock_()),
      encoder_(std::move(encoder)) {}

void Feeder::submit_locked(const Picture& picture, std::uint64_t timestamp_us) {
    keyframe_requested_.reset();
    encoder_->submit(picture, timestamp_us, last_submitted_us_);
}

void Feeder::push(PictureRef picture, std::uint64_t timestamp_us) {
    std::lock_guard lock(mutex_);
    if (!picture || picture->width() != encoder_->width() ||
        picture->height() != encoder_->height()) {
        return;
    }
    arrival_ = clock_();
    idle_refreshed_ = false;
    if (gate_->admit()) {
        submit_locked(*picture, timestamp_us);
        held_back_ = false;
    } else {
        held_back_ = true;
    }
    last_ = std::move(picture);
}

void Feeder::request_keyframe() {
    std::lock_guard lock(mutex_);
    encoder_->force_keyframe();
    if (!keyframe_requested_)
        keyframe_requested_ = clock_();
}

void Feeder::install(std::shared_ptr<H264Encoder> encoder) {
    std::lock_guard lock(mutex_);
    encoder->force_keyframe();
    encoder_ = std::move(encoder);
    last_.reset();
    held_back_ = false;
    idle_refreshed_ = true;
    keyframe_requested_ = clock_();
}

void Feeder::refresh() {
    std::lock_guard lock(mutex_);
    if (!last_)
        return;
    const auto now = clock_();
    const bool stale = keyframe_requested_ && now >= *keyframe_requested_ &&
                       now - *keyframe_requested_ >= KEYFRAME_GRACE;
    const bool idle = !idle_refreshed_ && now >= arrival_ && now - arrival_ >= IDLE_THRESHOLD;
    if (!held_back_ && !stale && !idle)
        return;
    if (!gate_->admit())
        return;
    // Keep the picture alive across the submission even if it is the only reference.
    const PictureRef picture = last_;
    submit_locked(*picture, monotonic_us(clock_()));
    held_back_ = false;
    if (idle)
        idle_refreshed_ = true;
}

std::unique_ptr<Refresher> Refresher::start(std::shared_ptr<Feeder> feeder) {
    std::unique_ptr<Refresher> refresher(new Refresher());
    try {
        refresher->thread_ = std::thread([stop = refresher->stop_, feeder = std::move(feeder)] {
            set_thread_name("mirravale-refresh");
            while (!stop->load(std::memory_order_acquire)) {
                std::this_thread::sleep_for(REFRESH_PERIOD);  // resumes after signals
                feeder->refresh();
            }
        });
    } catch (const std::system_error&) {
    }
    return refresher;
}

Refresher::~Refresher() {
    stop_->store(true, std::memory_order_seq_cst);
    if (thread_.joinable())
        thread_.join();
}

}  // namespace mirravale::platform

#include "core/testing/fakes.hpp"

namespace mirravale::core::testing {

void FakeInjector::inject(const InputEvent& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    if (const auto* move = std::get_if<input::MoveTo>(&event)) {
        cursor_ = Point{move->x, move->y};
    }
}

std::optional<Point> FakeInjector::cursor_position() {
    std::lock_guard lock(mutex_);
    return cursor_;
}

void FakeInjector::release_all() {
    std::lock_guard lock(mutex_);
    ++releases_;
}

void FakeInjector::set_cursor(std::optional<Point> position) {
    std::lock_guard lock(mutex_);
    cursor_ = position;
}

std::vector<InputEvent> FakeInjector::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

int FakeInjector::releases() const {
    std::lock_guard lock(mutex_);
    return releases_;
}

FakeDisplays::FakeDisplays(std::vector<Display> displays) : displays_(std::move(displays)) {}

std::vector<Display> FakeDisplays::displays() {
    std::lock_guard lock(mutex_);
    return displays_;
}

void FakeDisplays::set(std::vector<Display> displays) {
    std::lock_guard lock(mutex_);
    displays_ = std::move(displays);
}

namespace {
class CountedGuard : public PowerGuard {
  public:
    explicit CountedGuard(std::shared_ptr<std::atomic<int>> live) : live_(std::move(live)) {
        ++*live_;
    }
    ~CountedGuard() override { --*live_; }

  private:
    std::shared_ptr<std::atomic<int>> live_;
};
}  // namespace

std::unique_ptr<PowerGuard> FakePower::keep_awake() {
    return std::make_unique<CountedGuard>(live_);
}

Result<std::vector<TrustedDevice>> MemoryTrustStore::load() {
    std::lock_guard lock(mutex_);
    if (load_error_) {
        return fail(*load_error_);
    }
    return devices_;
}

Status MemoryTrustStore::save(const std::vector<TrustedDevice>& devices) {
    std::lock_guard lock(mutex_);
    ++saves_;
    if (save_error_) {
        return fail(*save_error_);
    }
    devices_ = devices;
    return {};
}

void MemoryTrustStore::fail_load(std::optional<std::string> error) {
    std::lock_guard lock(mutex_);
    load_error_ = std::move(error);
}

void MemoryTrustStore::fail_saves(std::optional<std::string> error) {
    std::lock_guard lock(mutex_);
    save_error_ = std::move(error);
}

std::vector<TrustedDevice> MemoryTrustStore::saved() const {
    std::lock_guard lock(mutex_);
    return devices_;
}

int MemoryTrustStore::saves() const {
    std::lock_guard lock(mutex_);
    return saves_;
}

namespace {
class FakeHandle : public PipelineHandle {
  public:
    FakeHandle(std::shared_ptr<FakePipeline::Stream> stream,
               std::shared_ptr<std::optional<std::string>> retarget_error)
        : stream_(std::move(stream)), retarget_error_(std::move(retarget_error)) {}
    ~FakeHandle() override { stream_->released = true; }
    void request_keyframe() override { ++stream_->keyframe_requests; }
    Status retarget(const StreamPlan& plan) override {
        if (*retarget_error_) {
            return fail(**retarget_error_);
        }
        std::lock_guard lock(stream_->mutex);
        stream_->retarget_plans.push_back(plan);
        return {};
    }

  private:
    std::shared_ptr<FakePipeline::Stream> stream_;
    std::shared_ptr<std::optional<std::string>> retarget_error_;
};
}  // namespace

Result<std::unique_ptr<PipelineHandle>> FakePipeline::start(const StreamPlan& plan,
                                                            std::shared_ptr<FrameGate> gate,
                                                            EventSink sink) {
    std::lock_guard lock(mutex_);
    if (start_error_) {
        return fail(*start_error_);
    }
    auto stream = std::make_shared<Stream>();
    stream->plan = plan;
    stream->gate = std::move(gate);
    stream->sink = std::move(sink);
    streams_.push_back(stream);
    return std::unique_ptr<PipelineHandle>(std::make_unique<FakeHandle>(stream, retarget_error_));
}

void FakePipeline::fail_starts(std::optional<std::string> error) {
    std::lock_guard lock(mutex_);
    start_error_ = std::move(error);
}

void FakePipeline::refuse_retargets(std::optional<std::string> error) {
    std::lock_guard lock(mutex_);
    *retarget_error_ = std::move(error);
}

std::vector<std::shared_ptr<FakePipeline::Stream>> FakePipeline::streams() const {
    std::lock_guard lock(mutex_);
    return streams_;
}

std::shared_ptr<FakePipeline::Stream> FakePipeline::latest() const {
    std::lock_guard lock(mutex_);
    return streams_.empty() ? nullptr : streams_.back();
}

pipeline::Frame fake_frame(bool keyframe, std::uint32_t width, std::uint32_t height,
                           std::uint64_t pts_us) {
    pipeline::Frame frame;
    frame.data = std::make_shared<const wire::Bytes>(
        wire::Bytes{0, 0, 0, 2, static_cast<std::uint8_t>(keyframe ? 0x65 : 0x41), 0x88});
    if (keyframe) {
        frame.parameter_sets = {{0x67, 0x42, static_cast<std::uint8_t>(width / 16)}, {0x68, 0xCE}};
    }
    frame.pts_us = pts_us;
    frame.width = width;
    frame.height = height;
    frame.keyframe = keyframe;
    return frame;
}

}  // namespace mirravale::core::testing

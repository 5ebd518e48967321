#include "core/testing/fakes.hpp"

namespace mirravale::core::testing {

void FakeInjector::inject(const InputEvent& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    if (const auto* move = std::get_if<input::MoveTo>(&event)) {
        cursor_ = Point{move->x, move->y};
    }
    changed_.notify_all();
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

bool FakeInjector::wait_events(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
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

// What the pipeline and the handles it gave out share; handles may outlive the pipeline.
struct detail::PipelineState {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<FakePipeline::Stream>> streams;
    std::optional<std::string> start_error;
    std::optional<std::string> retarget_error;
    int keyframe_requests = 0;
};

namespace {
class FakeHandle : public PipelineHandle {
  public:
    FakeHandle(std::shared_ptr<FakePipeline::Stream> stream,
               std::shared_ptr<detail::PipelineState> state)
        : stream_(std::move(stream)), state_(std::move(state)) {}
    ~FakeHandle() override { stream_->released = true; }

    void request_keyframe() override {
        ++stream_->keyframe_requests;
        std::lock_guard lock(state_->mutex);
        ++state_->keyframe_requests;
        state_->changed.notify_all();
    }

    Status retarget(const StreamPlan& plan) override {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->retarget_error) {
                return fail(*state_->retarget_error);
            }
        }
        std::lock_guard lock(stream_->mutex);
        stream_->retarget_plans.push_back(plan);
        return {};
    }

  private:
    std::shared_ptr<FakePipeline::Stream> stream_;
    std::shared_ptr<detail::PipelineState> state_;
};
}  // namespace

bool FakePipeline::Stream::admit_and_emit(pipeline::Frame frame) const {
    if (!gate->admit()) {
        return false;
    }
    deliver(std::move(frame));
    return true;
}

std::vector<StreamPlan> FakePipeline::Stream::retargets() const {
    std::lock_guard lock(mutex);
    return retarget_plans;
}

FakePipeline::FakePipeline() : state_(std::make_shared<detail::PipelineState>()) {}

Result<std::unique_ptr<PipelineHandle>> FakePipeline::start(const StreamPlan& plan,
                                                            std::shared_ptr<FrameGate> gate,
                                                            EventSink sink) {
    std::lock_guard lock(state_->mutex);
    if (state_->start_error) {
        return fail(*state_->start_error);
    }
    auto stream = std::make_shared<Stream>();
    stream->plan = plan;
    stream->gate = std::move(gate);
    stream->sink = std::move(sink);
    state_->streams.push_back(stream);
    state_->changed.notify_all();
    return std::unique_ptr<PipelineHandle>(std::make_unique<FakeHandle>(stream, state_));
}

void FakePipeline::fail_starts(std::optional<std::string> error) {
    std::lock_guard lock(state_->mutex);
    state_->start_error = std::move(error);
}

void FakePipeline::refuse_retargets(std::optional<std::string> error) {
    std::lock_guard lock(state_->mutex);
    state_->retarget_error = std::move(error);
}

std::vector<std::shared_ptr<FakePipeline::Stream>> FakePipeline::streams() const {
    std::lock_guard lock(state_->mutex);
    return state_->streams;
}

std::shared_ptr<FakePipeline::Stream> FakePipeline::latest() const {
    std::lock_guard lock(state_->mutex);
    return state_->streams.empty() ? nullptr : state_->streams.back();
}

bool FakePipeline::wait_streams(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, limit, [&] { return state_->streams.size() >= count; });
}

bool FakePipeline::wait_keyframe_requests(int count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, limit,
                                    [&] { return state_->keyframe_requests >= count; });
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

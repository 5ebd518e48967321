#pragma once
// Recording fakes of the ports, for the tests of every part. Each is safe to use from several
// threads at once, like the real adapters; the `wait_*` calls let a test await what another
// thread does instead of sleeping.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/flow.hpp"
#include "core/ports.hpp"

namespace mirravale::core::testing {

inline constexpr std::chrono::milliseconds WAIT_LIMIT{2000};

// Records every event. The cursor follows injected moves and can be set by the test.
class FakeInjector : public InputInjector {
  public:
    void inject(const InputEvent& event) override;
    std::optional<Point> cursor_position() override;
    void release_all() override;

    void set_cursor(std::optional<Point> position);
    std::vector<InputEvent> events() const;
    // The recorded events of one kind, e.g. `events_of<input::MoveTo>()`.
    template <class T>
    std::vector<T> events_of() const {
        std::vector<T> found;
        for (const auto& event : events()) {
            if (const auto* e = std::get_if<T>(&event)) {
                found.push_back(*e);
            }
        }
        return found;
    }
    int releases() const;
    // True once at least `count` events were injected.
    bool wait_events(std::size_t count, std::chrono::milliseconds limit = WAIT_LIMIT) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<InputEvent> events_;
    std::optional<Point> cursor_;
    int releases_ = 0;
};

class FakeDisplays : public DisplayDirectory {
  public:
    explicit FakeDisplays(std::vector<Display> displays = {});
    std::vector<Display> displays() override;
    void set(std::vector<Display> displays);

  private:
    mutable std::mutex mutex_;
    std::vector<Display> displays_;
};

// Both permissions granted unless told otherwise.
class FakePermissions : public PermissionProbe {
  public:
    explicit FakePermissions(std::uint8_t bits = 3) : bits_(bits) {}
    PermissionSet permissions() override { return PermissionSet{bits_.load()}; }
    void set(std::uint8_t bits) { bits_ = bits; }

  private:
    std::atomic<std::uint8_t> bits_;
};

class FakePower : public PowerAssertion {
  public:
    std::unique_ptr<PowerGuard> keep_awake() override;
    // Guards handed out and not yet destroyed.
    int live_guards() const { return *live_; }

  private:
    std::shared_ptr<std::atomic<int>> live_ = std::make_shared<std::atomic<int>>(0);
};

// Loads what was last saved (nothing at first); failures are scripted.
class MemoryTrustStore : public TrustStore {
  public:
    Result<std::vector<TrustedDevice>> load() override;
    Status save(const std::vector<TrustedDevice>& devices) override;

    void fail_load(std::optional<std::string> error);
    // A failing save is still counted but keeps the previous list.
    void fail_saves(std::optional<std::string> error);
    std::vector<TrustedDevice> saved() const;
    int saves() const;

  private:
    mutable std::mutex mutex_;
    std::vector<TrustedDevice> devices_;
    std::optional<std::string> load_error_;
    std::optional<std::string> save_error_;
    int saves_ = 0;
};

namespace detail {
struct PipelineState;
}

// A screen pipeline whose streams do nothing by themselves: the test plays the pipeline's
// threads by emitting events through the sink each stream was given.
class FakePipeline : public ScreenPipeline {
  public:
    struct Stream {
        StreamPlan plan;
        std::shared_ptr<FrameGate> gate;
        EventSink sink;
        std::atomic<int> keyframe_requests{0};
        std::atomic<bool> released{false};  // its handle was destroyed

        void deliver(PipelineEvent event) const { sink(std::move(event)); }
        // Admits one picture through the gate and reports it as `frame`, as an encoder would;
        // false (and nothing emitted) when the gate refuses.
        bool admit_and_emit(pipeline::Frame frame) const;
        std::vector<StreamPlan> retargets() const;

        mutable std::mutex mutex;
        std::vector<StreamPlan> retarget_plans;
    };

    FakePipeline();

    Result<std::unique_ptr<PipelineHandle>> start(const StreamPlan& plan,
                                                  std::shared_ptr<FrameGate> gate,
                                                  EventSink sink) override;

    // Every later start fails with this text (none: starts succeed again).
    void fail_starts(std::optional<std::string> error);
    // Every later retarget of any stream is refused with this text.
    void refuse_retargets(std::optional<std::string> error);

    // Successful starts, oldest first.
    std::vector<std::shared_ptr<Stream>> streams() const;
    std::shared_ptr<Stream> latest() const;
    // True once `count` streams were started.
    bool wait_streams(std::size_t count, std::chrono::milliseconds limit = WAIT_LIMIT) const;
    // True once keyframes were requested `count` times in all, over every stream.
    bool wait_keyframe_requests(int count, std::chrono::milliseconds limit = WAIT_LIMIT) const;

  private:
    std::shared_ptr<detail::PipelineState> state_;
};

// A keyframe (with parameter sets that depend on the width) or a delta frame.
pipeline::Frame fake_frame(bool keyframe, std::uint32_t width = 640, std::uint32_t height = 480,
                           std::uint64_t pts_us = 0);

// A complete set of fakes, with one 1920x1080 main display.
struct FakePorts {
    std::shared_ptr<FakePipeline> screen = std::make_shared<FakePipeline>();
    std::shared_ptr<FakeInjector> input = std::make_shared<FakeInjector>();
    std::shared_ptr<FakeDisplays> displays = std::make_shared<FakeDisplays>(
        std::vector<Display>{Display{1, "Display 1", Rect{0, 0, 1920, 1080}, 1920, 1080, true}});
    std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
    std::shared_ptr<FakePower> power = std::make_shared<FakePower>();
    std::shared_ptr<MemoryTrustStore> trust_store = std::make_shared<MemoryTrustStore>();

    Ports ports() const { return {screen, input, displays, permissions, power, trust_store}; }
};

}  // namespace mirravale::core::testing

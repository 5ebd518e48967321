#pragma once
// Recording fakes of the ports, for the tests of every part.

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/flow.hpp"
#include "core/ports.hpp"

namespace mirravale::core::testing {

class FakeInjector : public InputInjector {
  public:
    void inject(const InputEvent& event) override;
    std::optional<Point> cursor_position() override;
    void release_all() override;

    void set_cursor(std::optional<Point> position);
    std::vector<InputEvent> events() const;
    int releases() const;

  private:
    mutable std::mutex mutex_;
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
    int live_guards() const { return *live_; }

  private:
    std::shared_ptr<std::atomic<int>> live_ = std::make_shared<std::atomic<int>>(0);
};

class MemoryTrustStore : public TrustStore {
  public:
    Result<std::vector<TrustedDevice>> load() override;
    Status save(const std::vector<TrustedDevice>& devices) override;

    void fail_load(std::optional<std::string> error);
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

// A screen pipeline whose streams do nothing by themselves: the test emits their events.
class FakePipeline : public ScreenPipeline {
  public:
    struct Stream {
        StreamPlan plan;
        std::shared_ptr<FrameGate> gate;
        EventSink sink;
        std::atomic<int> keyframe_requests{0};
        std::atomic<bool> released{false};

        std::vector<StreamPlan> retargets() const {
            std::lock_guard lock(mutex);
            return retarget_plans;
        }
        mutable std::mutex mutex;
        std::vector<StreamPlan> retarget_plans;
    };

    Result<std::unique_ptr<PipelineHandle>> start(const StreamPlan& plan,
                                                  std::shared_ptr<FrameGate> gate,
                                                  EventSink sink) override;

    void fail_starts(std::optional<std::string> error);
    void refuse_retargets(std::optional<std::string> error);
    std::vector<std::shared_ptr<Stream>> streams() const;
    std::shared_ptr<Stream> latest() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Stream>> streams_;
    std::optional<std::string> start_error_;
    std::shared_ptr<std::optional<std::string>> retarget_error_ =
        std::make_shared<std::optional<std::string>>();
};

// A keyframe or delta frame as an encoder would report it.
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

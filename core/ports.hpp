#pragma once
// Everything the core needs from the operating system, as small abstract classes that the
// platform adapters implement. Every implementation must be safe to call from several threads;
// none may call back into the service or a session.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/geometry.hpp"
#include "core/trust.hpp"
#include "wire/messages.hpp"
#include "wire/result.hpp"

namespace mirravale::core {

class FrameGate;

using wire::PermissionSet;

struct Display {
    std::uint32_t id = 0;  // 0 is never a real display
    std::string name;
    Rect frame;  // global points
    std::uint32_t pixel_width = 0;
    std::uint32_t pixel_height = 0;
    bool main = false;
    friend bool operator==(const Display&, const Display&) = default;
};

struct StreamPlan {
    std::uint32_t display_id = 0;
    std::uint32_t width = 0;  // even, at least 2
    std::uint32_t height = 0;
    std::uint32_t kbps = 0;
    std::uint8_t fps = 0;
    friend bool operator==(const StreamPlan&, const StreamPlan&) = default;
};

namespace input {
struct MoveTo {
    double x = 0;
    double y = 0;
    friend bool operator==(const MoveTo&, const MoveTo&) = default;
};
struct Button {
    wire::MouseButton button = wire::MouseButton::Left;
    bool pressed = false;
    std::uint8_t clicks = 1;  // 1 to 3
    friend bool operator==(const Button&, const Button&) = default;
};
struct Scroll {
    double dx = 0;
    double dy = 0;
    wire::ScrollPhase phase = wire::ScrollPhase::None;
    friend bool operator==(const Scroll&, const Scroll&) = default;
};
struct Key {
    std::uint16_t keycode = 0;
    bool pressed = false;
    wire::Modifiers modifiers;
    friend bool operator==(const Key&, const Key&) = default;
};
struct Text {
    std::string text;
    friend bool operator==(const Text&, const Text&) = default;
};
}  // namespace input

using InputEvent =
    std::variant<input::MoveTo, input::Button, input::Scroll, input::Key, input::Text>;

namespace pipeline {
struct Frame {
    wire::SharedBytes data;                   // NAL units, each after a 4-byte big-endian length
    std::vector<wire::Bytes> parameter_sets;  // SPS and PPS on keyframes, else empty
    std::uint64_t pts_us = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool keyframe = false;
};
struct Dropped {};
struct Stopped {
    std::string text;  // shown to the user
};
}  // namespace pipeline

using PipelineEvent = std::variant<pipeline::Frame, pipeline::Dropped, pipeline::Stopped>;

// Called by a pipeline from any thread until its handle is released; never blocks.
using EventSink = std::function<void(PipelineEvent)>;

// A running stream. Destroying the handle stops it; late events are told apart by the session.
class PipelineHandle {
  public:
    virtual ~PipelineHandle() = default;
    virtual void request_keyframe() = 0;
    // Another display, size or rate without a restart; an error text when this cannot be done.
    virtual Status retarget(const StreamPlan& plan) = 0;
};

class ScreenPipeline {
  public:
    virtual ~ScreenPipeline() = default;
    // May block until the pipeline runs or has failed; an error text is shown to the user as is.
    virtual Result<std::unique_ptr<PipelineHandle>> start(const StreamPlan& plan,
                                                          std::shared_ptr<FrameGate> gate,
                                                          EventSink sink) = 0;
};

class InputInjector {
  public:
    virtual ~InputInjector() = default;
    virtual void inject(const InputEvent& event) = 0;
    virtual std::optional<Point> cursor_position() = 0;
    // Lets go of every button and key that injected events left pressed.
    virtual void release_all() = 0;
};

class DisplayDirectory {
  public:
    virtual ~DisplayDirectory() = default;
    // The active displays in the system's order; empty means nothing can be streamed.
    virtual std::vector<Display> displays() = 0;
};

class PermissionProbe {
  public:
    virtual ~PermissionProbe() = default;
    // Cheap: asked at every status publication and every second by a controlling session.
    virtual PermissionSet permissions() = 0;
};

// Keeps the display awake for exactly as long as it exists.
class PowerGuard {
  public:
    virtual ~PowerGuard() = default;
};

class PowerAssertion {
  public:
    virtual ~PowerAssertion() = default;
    virtual std::unique_ptr<PowerGuard> keep_awake() = 0;
};

class TrustStore {
  public:
    virtual ~TrustStore() = default;
    virtual Result<std::vector<TrustedDevice>> load() = 0;
    // Called with the complete list after every change, under the service's lock.
    virtual Status save(const std::vector<TrustedDevice>& devices) = 0;
};

struct Ports {
    std::shared_ptr<ScreenPipeline> screen;
    std::shared_ptr<InputInjector> input;
    std::shared_ptr<DisplayDirectory> displays;
    std::shared_ptr<PermissionProbe> permissions;
    std::shared_ptr<PowerAssertion> power;
    std::shared_ptr<TrustStore> trust_store;
};

}  // namespace mirravale::core

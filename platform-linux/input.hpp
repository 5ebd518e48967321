#pragma once
// Input injection through the XTEST extension: pointer, buttons, wheel, keys and text arrive as
// if from a local device. Remembers what it pressed, so that drags, modifiers and fractional
// scrolling carry across events and everything can be let go of when a session ends.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/ports.hpp"
#include "platform-linux/keymap.hpp"
#include "platform-linux/x11_connection.hpp"

namespace mirravale::platform {

// Pixels of scrolling per wheel click: what toolkits scroll for one click.
inline constexpr double WHEEL_STEP_PX = 60;
// Most wheel clicks one scroll event may post per axis; a bigger amount is cut, not carried.
inline constexpr int MAX_WHEEL_CLICKS = 40;
// A double or triple click lands on the previous press when it is at most this far from it,
// so that the receiving toolkit counts the clicks.
inline constexpr int CLICK_SLOP_PX = 5;

// Modifier flags as held by key events; left and right keys of a pair share one.
struct ModifierFlags {
    static constexpr std::uint32_t CAPS_LOCK = 0x10000;
    static constexpr std::uint32_t SHIFT = 0x20000;
    static constexpr std::uint32_t CONTROL = 0x40000;
    static constexpr std::uint32_t OPTION = 0x80000;
    static constexpr std::uint32_t COMMAND = 0x100000;
    static constexpr std::uint32_t FUNCTION = 0x800000;
};

// Wheel clicks for a scroll amount plus the carried remainder: the clicks to post and the new
// remainder, both in the phone's sign (positive: up or left).
struct WheelStep {
    int clicks = 0;
    double remainder = 0;
};
WheelStep wheel_step(double amount, double remainder, bool ended);

class X11Input final : public core::InputInjector {
  public:
    // Opens two connections to the display (empty: $DISPLAY): one to inject through, one for
    // pointer queries, so that a query never waits behind a long text.
    static Result<std::unique_ptr<X11Input>> open(const std::string& display = {});
    // Lets go of what is still pressed and gives back the keycodes it bound.
    ~X11Input() override;

    void inject(const core::InputEvent& event) override;
    // Where the pointer is, in root-window coordinates; none when it is on another screen.
    std::optional<core::Point> cursor_position() override;
    void release_all() override;

  private:
    struct State;
    X11Input(std::unique_ptr<X11Connection> injector, std::unique_ptr<X11Connection> query,
             std::unique_ptr<State> state);

    std::unique_ptr<X11Connection> injector_;  // its lock also guards state_
    std::unique_ptr<X11Connection> query_;
    std::unique_ptr<State> state_;
};

}  // namespace mirravale::platform

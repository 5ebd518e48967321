#pragma once
// How a phone's stream request and a display become the encoded stream's size, rate and bit
// rate, and which display the phone's pointer messages refer to.

#include <cstdint>
#include <optional>
#include <vector>

#include "core/ports.hpp"
#include "wire/messages.hpp"

namespace mirravale::core {

struct StreamLimits {
    std::uint32_t max_width = 4096;
    std::uint32_t max_height = 4096;
    std::uint32_t max_macroblocks = 36864;
    std::uint32_t min_kbps = 500;  // not above max_kbps
    std::uint32_t max_kbps = 50000;
    std::uint8_t max_fps = 60;
};

// Never enlarges the display; keeps within the encoder's macroblock budget; 0.1 bit per pixel
// per frame unless the phone asked for a bit rate.
StreamPlan plan_stream(const wire::client::StreamRequest& request, const Display& display,
                       const StreamLimits& limits);

// The display pointer messages refer to: the chosen one, else the first main one, else the
// first; none for an empty list.
std::optional<Display> pointer_display(const std::vector<Display>& displays,
                                       const std::optional<Display>& chosen);

// The display the pointer moves onto when `point` leaves the current one (see
// `pointer_display`): the first other display, in list order, that contains it. None while not
// following the pointer or while the point stays on the current display.
std::optional<Display> neighbour_at(const std::vector<Display>& displays,
                                    const std::optional<Display>& chosen, bool follow, Point point);

}  // namespace mirravale::core

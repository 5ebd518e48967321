#pragma once
// How a phone's stream request and a display become the encoded stream's size, rate and bit rate.

#include <cstdint>

#include "core/ports.hpp"
#include "wire/messages.hpp"

namespace mirravale::core {

struct StreamLimits {
    std::uint32_t max_width = 4096;
    std::uint32_t max_height = 4096;
    std::uint32_t max_macroblocks = 36864;
    std::uint32_t min_kbps = 500;
    std::uint32_t max_kbps = 50000;
    std::uint8_t max_fps = 60;
};

StreamPlan plan_stream(const wire::client::StreamRequest& request, const Display& display,
                       const StreamLimits& limits);

}  // namespace mirravale::core

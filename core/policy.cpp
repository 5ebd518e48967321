#include "core/policy.hpp"

#include <algorithm>
#include <cmath>

namespace mirravale::core {
namespace {

double macroblocks(double width, double height) {
    return std::ceil(width / 16) * std::ceil(height / 16);
}

// Nearest integer (halves away from zero), made even, at least 2.
std::uint32_t even_size(double value) {
    const auto n = static_cast<std::uint64_t>(std::llround(value)) & ~std::uint64_t{1};
    return n < 3 ? 2 : static_cast<std::uint32_t>(n);
}

double cap(std::uint16_t requested, std::uint32_t limit) {
    return requested == 0 ? limit : std::min<std::uint32_t>(requested, limit);
}

}  // namespace

StreamPlan plan_stream(const wire::client::StreamRequest& request, const Display& display,
                       const StreamLimits& limits) {
    const double source_w = std::max<std::uint32_t>(display.pixel_width, 2);
    const double source_h = std::max<std::uint32_t>(display.pixel_height, 2);
    const double cap_w = cap(request.max_width, limits.max_width);
    const double cap_h = cap(request.max_height, limits.max_height);

    double scale = std::min({cap_w / source_w, 1.0, cap_h / source_h});
    double width = scale * source_w;
    double height = scale * source_h;
    // Shrink in 2 % steps, always from the source size so rounding never accumulates.
    while (scale > 0.05 && macroblocks(width, height) > limits.max_macroblocks) {
        scale *= 0.98;
        width = scale * source_w;
        height = scale * source_h;
    }

    StreamPlan plan;
    plan.display_id = display.id;
    plan.width = even_size(width);
    plan.height = even_size(height);
    plan.fps = request.fps == 0 ? 30 : std::min(request.fps, limits.max_fps);
    std::uint64_t kbps = request.bitrate_kbps;
    if (kbps == 0) {
        kbps = static_cast<std::uint64_t>(double(plan.width) * plan.height * plan.fps * 0.1 / 1000);
    }
    // max after min: limits that break their invariant still give a defined result.
    kbps = std::min<std::uint64_t>(std::max<std::uint64_t>(kbps, limits.min_kbps), limits.max_kbps);
    plan.kbps = static_cast<std::uint32_t>(kbps);
    return plan;
}

std::optional<Display> pointer_display(const std::vector<Display>& displays,
                                       const std::optional<Display>& chosen) {
    if (chosen) {
        return chosen;
    }
    const auto main =
        std::find_if(displays.begin(), displays.end(), [](const Display& d) { return d.main; });
    if (main != displays.end()) {
        return *main;
    }
    if (!displays.empty()) {
        return displays.front();
    }
    return std::nullopt;
}

std::optional<Display> neighbour_at(const std::vector<Display>& displays,
                                    const std::optional<Display>& chosen, bool follow,
                                    Point point) {
    if (!follow) {
        return std::nullopt;
    }
    const auto current = pointer_display(displays, chosen);
    if (!current || current->frame.contains(point)) {
        return std::nullopt;
    }
    for (const auto& d : displays) {
        if (d.id != current->id && d.frame.contains(point)) {
            return d;
        }
    }
    return std::nullopt;
}

}  // namespace mirravale::core

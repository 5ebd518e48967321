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
    auto n = static_cast<std::uint64_t>(std::llround(value)) & ~std::uint64_t{1};
    return n < 3 ? 2 : static_cast<std::uint32_t>(n);
}

}  // namespace

StreamPlan plan_stream(const wire::client::StreamRequest& request, const Display& display,
                       const StreamLimits& limits) {
    const double source_w = std::max<std::uint32_t>(display.pixel_width, 2);
    const double source_h = std::max<std::uint32_t>(display.pixel_height, 2);
    const double cap_w = request.max_width == 0
                             ? limits.max_width
                             : std::min<std::uint32_t>(request.max_width, limits.max_width);
    const double cap_h = request.max_height == 0
                             ? limits.max_height
                             : std::min<std::uint32_t>(request.max_height, limits.max_height);

    double scale = std::min({cap_w / source_w, 1.0, cap_h / source_h});
    double width = scale * source_w;
    double height = scale * source_h;
    if (scale > 0.05 && macroblocks(width, height) > limits.max_macroblocks) {
        while (true) {
            scale *= 0.98;
            width = scale * source_w;
            height = scale * source_h;
            if (scale <= 0.05 || macroblocks(width, height) <= limits.max_macroblocks) {
                break;
            }
        }
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
    plan.kbps = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(kbps, limits.min_kbps, limits.max_kbps));
    return plan;
}

}  // namespace mirravale::core

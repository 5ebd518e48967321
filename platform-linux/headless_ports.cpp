#include "platform-linux/headless_ports.hpp"

namespace mirravale::platform {

std::vector<core::Display> HeadlessDisplays::displays() {
    if (!test_pattern_) {
        return {};
    }
    return {core::Display{TEST_PATTERN_DISPLAY_ID, "Test Pattern", core::Rect{0, 0, 1920, 1080},
                          1920, 1080, true}};
}

std::unique_ptr<core::PowerGuard> HeadlessPower::keep_awake() {
    return std::make_unique<core::PowerGuard>();
}

}  // namespace mirravale::platform

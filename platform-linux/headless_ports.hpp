#pragma once
// The ports of a machine without a display server: nothing to capture, nothing to inject into,
// and permission bits that say so. With the test picture there is one virtual display, so a
// phone can pair and stream anywhere.

#include <memory>

#include "core/ports.hpp"

namespace mirravale::platform {

inline constexpr std::uint32_t TEST_PATTERN_DISPLAY_ID = 1;

// One virtual display "Test Pattern", 1920x1080, main; or none at all.
class HeadlessDisplays final : public core::DisplayDirectory {
  public:
    explicit HeadlessDisplays(bool test_pattern) : test_pattern_(test_pattern) {}
    std::vector<core::Display> displays() override;

  private:
    bool test_pattern_;
};

class HeadlessInput final : public core::InputInjector {
  public:
    void inject(const core::InputEvent&) override {}
    std::optional<core::Point> cursor_position() override { return std::nullopt; }
    void release_all() override {}
};

class HeadlessPermissions final : public core::PermissionProbe {
  public:
    core::PermissionSet permissions() override { return {}; }
};

// No display to keep awake.
class HeadlessPower final : public core::PowerAssertion {
  public:
    std::unique_ptr<core::PowerGuard> keep_awake() override;
};

}  // namespace mirravale::platform

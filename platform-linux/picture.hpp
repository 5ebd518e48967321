#pragma once
// A picture on its way to the encoder: BGRA bytes (blue, green, red, alpha per pixel), rows
// `stride` bytes apart. Shared by reference between its producer, the feeder and the refresher;
// nobody writes to it once it has been handed to the feeder. The bytes start out unset: the
// producer writes every pixel, and clearing a 1440p picture first would cost a millisecond.

#include <cstdint>
#include <memory>

namespace mirravale::platform {

class Picture {
  public:
    // stride 0 means tightly packed rows (4 × width); a larger stride leaves padding per row.
    Picture(std::uint32_t width, std::uint32_t height, std::uint32_t stride = 0);

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    std::uint32_t stride() const { return stride_; }
    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::uint8_t* row(std::uint32_t y) { return bytes_.get() + std::size_t{y} * stride_; }
    const std::uint8_t* row(std::uint32_t y) const {
        return bytes_.get() + std::size_t{y} * stride_;
    }

  private:
    std::uint32_t width_;
    std::uint32_t height_;
    std::uint32_t stride_;
    std::unique_ptr<std::uint8_t[]> bytes_;
};

using PictureRef = std::shared_ptr<const Picture>;

}  // namespace mirravale::platform

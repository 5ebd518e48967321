#include "platform-linux/picture.hpp"

#include <algorithm>

namespace mirravale::platform {

Picture::Picture(std::uint32_t width, std::uint32_t height, std::uint32_t stride)
    : width_(width),
      height_(height),
      stride_(std::max(stride, width * 4)),
      bytes_(new std::uint8_t[std::size_t{stride_} * height]) {}

}  // namespace mirravale::platform

#include "platform-linux/thread_name.hpp"

#include <sys/prctl.h>

#include <algorithm>
#include <array>

namespace mirravale::platform {

void set_thread_name(std::string_view name) {
    std::array<char, 16> buffer{};
    const auto length = std::min<std::size_t>(name.size(), buffer.size() - 1);
    std::copy_n(name.data(), length, buffer.data());
    prctl(PR_SET_NAME, buffer.data(), 0, 0, 0);
}

}  // namespace mirravale::platform

#include "core/random.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include <openssl/rand.h>

namespace mirravale::core {

RandomSource secure_random() {
    return [](std::span<std::uint8_t> out) {
        while (!out.empty()) {
            const std::size_t n =
                std::min<std::size_t>(out.size(), std::numeric_limits<int>::max());
            if (RAND_bytes(out.data(), static_cast<int>(n)) != 1) {
                std::fputs("the secure random generator failed\n", stderr);
                std::abort();
            }
            out = out.subspan(n);
        }
    };
}

}  // namespace mirravale::core

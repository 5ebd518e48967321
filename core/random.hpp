#pragma once
// The source of secrets (pairing codes, device tokens). The service holds one; tests give it a
// deterministic one.

#include <cstdint>
#include <functional>
#include <span>

namespace mirravale::core {

using RandomSource = std::function<void(std::span<std::uint8_t>)>;

// The operating system's cryptographically secure generator (OpenSSL). A generator that cannot
// be seeded stops the process: handing out guessable codes is worse than not running.
RandomSource secure_random();

}  // namespace mirravale::core

// Feeds arbitrary bytes through the frame reader in uneven pieces and decodes every body. Nothing
// may crash; every body must be exactly the bytes its prefix announced; and every message that
// decodes must write back to the very body it came from, which holds only if each check let
// through nothing but the one canonical form (strict UTF-8, finite floats, 0/1 booleans, known
// enum values, no trailing bytes).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "tools/phone/codec.hpp"
#include "wire/messages.hpp"

namespace {

using namespace mirravale::wire;

void check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

void check_decode(std::span<const std::uint8_t> body) {
    const auto decoded = ClientMessage::decode(body);
    if (!decoded) {
        const auto& error = decoded.error();
        check(!to_string(error).empty());
        check(error.kind != WireError::Kind::TooLong);
        if (error.kind == WireError::Kind::TrailingBytes) {
            check(error.count > 0 && error.count < body.size());
        }
        return;
    }
    // The phone's encoder writes the frame again, length prefix first.
    const auto again = mirravale::phone::encode(*decoded);
    check(again.size() == 4 + body.size() &&
          std::memcmp(again.data() + 4, body.data(), body.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the piece size, so chunk boundaries are explored too.
    const std::size_t piece = 1 + data[0] % 64;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    auto input = stream;
    std::size_t frame_start = 0;
    FrameReader reader;
    while (!input.empty() && !reader.failed()) {
        input = input.subspan(reader.feed(input.first(std::min(piece, input.size()))));
        if (reader.has_body()) {
            const auto body = reader.body();
            const std::size_t announced = (std::size_t{stream[frame_start]} << 24) |
                                          (std::size_t{stream[frame_start + 1]} << 16) |
                                          (std::size_t{stream[frame_start + 2]} << 8) |
                                          std::size_t{stream[frame_start + 3]};
            check(body.size() == announced);
            check(std::memcmp(body.data(), stream.data() + frame_start + 4, body.size()) == 0);
            check_decode(body);
            frame_start += 4 + body.size();
            check(frame_start == stream.size() - input.size());
            reader.next();
        }
    }
    // The whole input as one body, too.
    check_decode(std::span<const std::uint8_t>(data, size));
    return 0;
}

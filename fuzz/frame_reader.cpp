// Feeds arbitrary bytes through the frame reader in uneven pieces and decodes every body: nothing
// may crash, and a decoded message must survive a second decode of the same body unchanged.
#include <cstddef>
#include <cstdint>
#include <span>

#include "wire/messages.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mirravale::wire;
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the piece size, so chunk boundaries are explored too.
    const std::size_t piece = 1 + data[0] % 64;
    std::span<const std::uint8_t> input(data + 1, size - 1);
    FrameReader reader;
    while (!input.empty() && !reader.failed()) {
        const auto used = reader.feed(input.first(std::min(piece, input.size())));
        input = input.subspan(used);
        if (reader.has_body()) {
            const auto first = ClientMessage::decode(reader.body());
            const auto again = ClientMessage::decode(reader.body());
            if (first.ok() != again.ok() || (first.ok() && !(*first == *again))) {
                __builtin_trap();
            }
            if (!first.ok()) {
                (void)to_string(first.error());
            }
            reader.next();
        }
    }
    // Any body on its own, too.
    (void)ClientMessage::decode(std::span<const std::uint8_t>(data, size));
    return 0;
}

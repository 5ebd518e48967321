#include "core/session_text.hpp"

#include <fmt/format.h>

namespace mirravale::core {
namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

std::string quoted(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            escaped.push_back('\\');
        }
        escaped.push_back(c);
    }
    return "\"" + printable(escaped) + "\"";
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            out += fmt::format("\\x{:02x}", c);
        } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
            // The C1 controls (U+0080..U+009F) include a one-character terminal escape.
            out += fmt::format("\\u{{{:x}}}", next);
            ++i;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string describe(const wire::ClientMessage& message) {
    using namespace wire::client;
    return std::visit(
        Overloaded{
            [](const Hello& m) {
                return fmt::format("Hello {{ version: {}, device_name: {}, app_version: {} }}",
                                   m.version, quoted(m.device_name), quoted(m.app_version));
            },
            [](const StreamRequest& m) {
                return fmt::format(
                    "StreamRequest {{ display_id: {}, max_width: {}, max_height: {}, fps: {}, "
                    "bitrate_kbps: {}, codec: {} }}",
                    m.display_id, m.max_width, m.max_height, m.fps, m.bitrate_kbps,
                    static_cast<int>(m.codec));
            },
            [](const KeyframeRequest&) { return std::string("KeyframeRequest"); },
            [](const FrameAck& m) { return fmt::format("FrameAck {{ seq: {} }}", m.seq); },
            [](const Ping& m) { return fmt::format("Ping {{ nonce: {} }}", m.nonce); },
            [](const Goodbye& m) {
                return fmt::format("Goodbye {{ reason: {} }}", static_cast<int>(m.reason));
            },
            [](const PointerAbsolute& m) {
                return fmt::format("PointerAbsolute {{ x: {}, y: {} }}", m.x, m.y);
            },
            [](const PointerRelative& m) {
                return fmt::format("PointerRelative {{ dx: {}, dy: {} }}", m.dx, m.dy);
            },
            [](const PointerButton& m) {
                return fmt::format("PointerButton {{ button: {}, pressed: {}, clicks: {} }}",
                                   static_cast<int>(m.button), m.pressed, m.clicks);
            },
            [](const Scroll& m) {
                return fmt::format("Scroll {{ dx: {}, dy: {}, phase: {} }}", m.dx, m.dy,
                                   static_cast<int>(m.phase));
            },
            [](const Key& m) {
                return fmt::format("Key {{ keycode: {}, pressed: {}, modifiers: {} }}", m.keycode,
                                   m.pressed, m.modifiers.bits);
            },
            [](const Text& m) { return fmt::format("Text {{ text: {} }}", quoted(m.text)); },
            [](const FollowPointer& m) {
                return fmt::format("FollowPointer {{ enabled: {} }}", m.enabled);
            },
        },
        message.message);
}

}  // namespace mirravale::core

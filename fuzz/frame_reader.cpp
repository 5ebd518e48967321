// Feeds arbitrary bytes through the frame reader in uneven pieces and decodes every body. Nothing
// may crash; every body must be exactly the bytes its prefix announced; and every message that
// decodes must write back to the very body it came from, which holds only if each check let
// through nothing but the one canonical form (strict UTF-8, finite floats, 0/1 booleans, known
// enum values, no trailing bytes).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <variant>

#include "wire/messages.hpp"

namespace {

using namespace mirravale::wire;

// The phone's direction, written here only to check the decoder against it.
struct ClientWriter {
    Bytes& out;

    void operator()(const client::Hello& m) {
        put::u8(out, 0x01);
        put::u16(out, m.version);
        put::raw(out, m.device_id);
        put::str(out, m.device_name);
        put::str(out, m.app_version);
        if (const auto* code = std::get_if<HelloAuth::PairingCode>(&m.auth.kind)) {
            put::u8(out, 1);
            put::str(out, code->code);
        } else {
            put::u8(out, 2);
            put::raw(out, std::get<HelloAuth::Token>(m.auth.kind).token);
        }
    }
    void operator()(const client::StreamRequest& m) {
        put::u8(out, 0x02);
        put::u32(out, m.display_id);
        put::u16(out, m.max_width);
        put::u16(out, m.max_height);
        put::u8(out, m.fps);
        put::u32(out, m.bitrate_kbps);
        put::u8(out, static_cast<std::uint8_t>(m.codec));
    }
    void operator()(const client::KeyframeRequest&) { put::u8(out, 0x03); }
    void operator()(const client::FrameAck& m) {
        put::u8(out, 0x04);
        put::u32(out, m.seq);
    }
    void operator()(const client::Ping& m) {
        put::u8(out, 0x05);
        put::u64(out, m.nonce);
    }
    void operator()(const client::Goodbye& m) {
        put::u8(out, 0x06);
        put::u8(out, static_cast<std::uint8_t>(m.reason));
    }
    void operator()(const client::PointerAbsolute& m) {
        put::u8(out, 0x10);
        put::f32(out, m.x);
        put::f32(out, m.y);
    }
    void operator()(const client::PointerRelative& m) {
        put::u8(out, 0x11);
        put::f32(out, m.dx);
        put::f32(out, m.dy);
    }
    void operator()(const client::PointerButton& m) {
        put::u8(out, 0x12);
        put::u8(out, static_cast<std::uint8_t>(m.button));
        put::boolean(out, m.pressed);
        put::u8(out, m.clicks);
    }
    void operator()(const client::Scroll& m) {
        put::u8(out, 0x13);
        put::f32(out, m.dx);
        put::f32(out, m.dy);
        put::u8(out, static_cast<std::uint8_t>(m.phase));
    }
    void operator()(const client::Key& m) {
        put::u8(out, 0x14);
        put::u16(out, m.keycode);
        put::boolean(out, m.pressed);
        put::u8(out, m.modifiers.bits);
    }
    void operator()(const client::Text& m) {
        put::u8(out, 0x15);
        put::str(out, m.text);
    }
    void operator()(const client::FollowPointer& m) {
        put::u8(out, 0x16);
        put::boolean(out, m.enabled);
    }
};

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
    Bytes again;
    std::visit(ClientWriter{again}, decoded->message);
    check(again.size() == body.size() && std::memcmp(again.data(), body.data(), body.size()) == 0);
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

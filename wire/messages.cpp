#include "wire/messages.hpp"

#include <algorithm>

namespace mirravale::wire {
namespace {

HelloAuth read_auth(ByteReader& in) {
    const auto kind = in.u8();
    if (in.failed()) {
        return {};
    }
    if (kind == 1) {
        return {HelloAuth::PairingCode{in.str()}};
    }
    if (kind == 2) {
        HelloAuth::Token token{};
        in.raw(token.token);
        return {token};
    }
    in.invalid("auth kind");
    return {};
}

template <class E>
E read_enum(ByteReader& in, std::uint8_t limit, std::string_view field) {
    const auto byte = in.u8();
    if (!in.failed() && byte >= limit) {
        in.invalid(field);
    }
    return static_cast<E>(byte);
}

Result<decltype(ClientMessage::message), WireError> read_message(std::uint8_t type,
                                                                 ByteReader& in) {
    switch (type) {
        case 0x01: {
            client::Hello m;
            m.version = in.u16();
            in.raw(m.device_id);
            m.device_name = in.str();
            m.app_version = in.str();
            m.auth = read_auth(in);
            return {std::move(m)};
        }
        case 0x02: {
            client::StreamRequest m;
            m.display_id = in.u32();
            m.max_width = in.u16();
            m.max_height = in.u16();
            m.fps = in.u8();
            m.bitrate_kbps = in.u32();
            const auto codec = in.u8();
            if (!in.failed() && codec != 1) {
                in.invalid("codec");
            }
            return {m};
        }
        case 0x03:
            return {client::KeyframeRequest{}};
        case 0x04:
            return {client::FrameAck{in.u32()}};
        case 0x05:
            return {client::Ping{in.u64()}};
        case 0x06:
            return {client::Goodbye{static_cast<GoodbyeReason>(in.u8())}};
        case 0x10: {
            client::PointerAbsolute m;
            m.x = in.finite_f32();
            m.y = in.finite_f32();
            return {m};
        }
        case 0x11: {
            client::PointerRelative m;
            m.dx = in.finite_f32();
            m.dy = in.finite_f32();
            return {m};
        }
        case 0x12: {
            client::PointerButton m;
            m.button = read_enum<MouseButton>(in, 3, "mouse button");
            m.pressed = in.boolean();
            m.clicks = in.u8();
            return {m};
        }
        case 0x13: {
            client::Scroll m;
            m.dx = in.finite_f32();
            m.dy = in.finite_f32();
            m.phase = read_enum<ScrollPhase>(in, 4, "scroll phase");
            return {m};
        }
        case 0x14: {
            client::Key m;
            m.keycode = in.u16();
            m.pressed = in.boolean();
            m.modifiers = Modifiers{in.u8()};
            return {m};
        }
        case 0x15:
            return {client::Text{in.str()}};
        case 0x16:
            return {client::FollowPointer{in.boolean()}};
        default:
            return fail(WireError::unknown_type(type));
    }
}

void put_display(Bytes& out, const DisplayEntry& d) {
    put::u32(out, d.id);
    put::str(out, d.name);
    put::u16(out, d.width);
    put::u16(out, d.height);
    put::u16(out, d.pixel_width);
    put::u16(out, d.pixel_height);
    put::boolean(out, d.main);
}

// Only the two defined bits travel; the others are 0 on the wire whatever the probe said.
void put_permissions(Bytes& out, PermissionSet set) {
    put::u8(out, set.bits & (PermissionSet::SCREEN_RECORDING | PermissionSet::ACCESSIBILITY));
}

struct BodyWriter {
    Bytes& out;

    void operator()(const host::Welcome& m) {
        put::u8(out, 0x81);
        put::u16(out, m.version);
        put::raw(out, m.host_id);
        put::str(out, m.host_name);
        if (m.token) {
            put::u8(out, 1);
            put::raw(out, *m.token);
        } else {
            put::u8(out, 0);
        }
        const std::size_t count = std::min<std::size_t>(m.displays.size(), 0xFF);
        put::u8(out, static_cast<std::uint8_t>(count));
        for (std::size_t i = 0; i < count; ++i) {
            put_display(out, m.displays[i]);
        }
        put::u32(out, m.main_display);
        put_permissions(out, m.permissions);
    }
    void operator()(const host::Error& m) {
        put::u8(out, 0x82);
        put::u8(out, static_cast<std::uint8_t>(m.code));
        put::str(out, m.message);
    }
    void operator()(const host::StreamFormat& m) {
        put::u8(out, 0x83);
        put::u8(out, static_cast<std::uint8_t>(m.codec));
        put::u16(out, m.width);
        put::u16(out, m.height);
        put::u32(out, m.display_id);
        put::u8(out, m.fps);
        const std::size_t count = std::min<std::size_t>(m.parameter_sets.size(), 0xFF);
        put::u8(out, static_cast<std::uint8_t>(count));
        for (std::size_t i = 0; i < count; ++i) {
            put::blob(out, m.parameter_sets[i]);
        }
    }
    void operator()(const host::VideoFrame&) {}  // written whole by the caller
    void operator()(const host::Cursor& m) {
        put::u8(out, 0x85);
        put::f32(out, m.x);
        put::f32(out, m.y);
        put::boolean(out, m.inside);
    }
    void operator()(const host::Pong& m) {
        put::u8(out, 0x86);
        put::u64(out, m.nonce);
    }
    void operator()(const host::Permissions& m) {
        put::u8(out, 0x87);
        put_permissions(out, m.flags);
    }
    void operator()(const host::Goodbye& m) {
        put::u8(out, 0x88);
        put::u8(out, static_cast<std::uint8_t>(m.reason));
        put::str(out, m.message);
    }
};

}  // namespace

Result<ClientMessage, WireError> ClientMessage::decode(std::span<const std::uint8_t> body) {
    if (body.empty()) {
        return fail(WireError::truncated());
    }
    ByteReader in(body.subspan(1));
    auto message = read_message(body[0], in);
    if (!message) {
        return fail(message.error());
    }
    if (in.failed()) {
        return fail(in.error());
    }
    if (in.remaining() != 0) {
        return fail(WireError::trailing_bytes(in.remaining()));
    }
    return ClientMessage{std::move(*message)};
}

std::array<std::uint8_t, VIDEO_FRAME_HEADER_LEN> video_frame_header(const host::VideoFrame& frame) {
    const std::size_t payload = frame.data ? frame.data->size() : 0;
    const auto length = static_cast<std::uint32_t>(payload + VIDEO_FRAME_HEADER_LEN - 4);
    std::array<std::uint8_t, VIDEO_FRAME_HEADER_LEN> header{};
    auto* p = header.data();
    for (int shift = 24; shift >= 0; shift -= 8)
        *p++ = static_cast<std::uint8_t>(length >> shift);
    *p++ = 0x84;
    for (int shift = 24; shift >= 0; shift -= 8)
        *p++ = static_cast<std::uint8_t>(frame.seq >> shift);
    for (int shift = 56; shift >= 0; shift -= 8)
        *p++ = static_cast<std::uint8_t>(frame.pts_us >> shift);
    *p = frame.keyframe ? 1 : 0;
    return header;
}

void HostMessage::encode_into(Bytes& buffer) const {
    if (const auto* frame = std::get_if<host::VideoFrame>(&message)) {
        const auto header = video_frame_header(*frame);
        buffer.insert(buffer.end(), header.begin(), header.end());
        if (frame->data) {
            buffer.insert(buffer.end(), frame->data->begin(), frame->data->end());
        }
        return;
    }
    const std::size_t start = buffer.size();
    buffer.insert(buffer.end(), FRAME_PREFIX_LEN, 0);
    std::visit(BodyWriter{buffer}, message);
    const auto length = static_cast<std::uint32_t>(buffer.size() - start - FRAME_PREFIX_LEN);
    for (std::size_t i = 0; i < 4; ++i) {
        buffer[start + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    }
}

}  // namespace mirravale::wire

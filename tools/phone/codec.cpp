#include "tools/phone/codec.hpp"

namespace mirravale::phone {
namespace put = wire::put;
using wire::Bytes;

namespace {
struct Writer {
    Bytes& out;
    void operator()(const wire::client::Hello& m) {
        put::u8(out, 0x01);
        put::u16(out, m.version);
        put::raw(out, m.device_id);
        put::str(out, m.device_name);
        put::str(out, m.app_version);
        if (const auto* code = std::get_if<wire::HelloAuth::PairingCode>(&m.auth.kind)) {
            put::u8(out, 1);
            put::str(out, code->code);
        } else {
            put::u8(out, 2);
            put::raw(out, std::get<wire::HelloAuth::Token>(m.auth.kind).token);
        }
    }
    void operator()(const wire::client::StreamRequest& m) {
        put::u8(out, 0x02);
        put::u32(out, m.display_id);
        put::u16(out, m.max_width);
        put::u16(out, m.max_height);
        put::u8(out, m.fps);
        put::u32(out, m.bitrate_kbps);
        put::u8(out, static_cast<std::uint8_t>(m.codec));
    }
    void operator()(const wire::client::KeyframeRequest&) { put::u8(out, 0x03); }
    void operator()(const wire::client::FrameAck& m) { put::u8(out, 0x04), put::u32(out, m.seq); }
    void operator()(const wire::client::Ping& m) { put::u8(out, 0x05), put::u64(out, m.nonce); }
    void operator()(const wire::client::Goodbye& m) {
        put::u8(out, 0x06), put::u8(out, static_cast<std::uint8_t>(m.reason));
    }
    void operator()(const wire::client::PointerAbsolute& m) {
        put::u8(out, 0x10), put::f32(out, m.x), put::f32(out, m.y);
    }
    void operator()(const wire::client::PointerRelative& m) {
        put::u8(out, 0x11), put::f32(out, m.dx), put::f32(out, m.dy);
    }
    void operator()(const wire::client::PointerButton& m) {
        put::u8(out, 0x12), put::u8(out, static_cast<std::uint8_t>(m.button));
        put::boolean(out, m.pressed), put::u8(out, m.clicks);
    }
    void operator()(const wire::client::Scroll& m) {
        put::u8(out, 0x13), put::f32(out, m.dx), put::f32(out, m.dy);
        put::u8(out, static_cast<std::uint8_t>(m.phase));
    }
    void operator()(const wire::client::Key& m) {
        put::u8(out, 0x14), put::u16(out, m.keycode), put::boolean(out, m.pressed);
        put::u8(out, m.modifiers.bits);
    }
    void operator()(const wire::client::Text& m) { put::u8(out, 0x15), put::str(out, m.text); }
    void operator()(const wire::client::FollowPointer& m) {
        put::u8(out, 0x16), put::boolean(out, m.enabled);
    }
};
}  // namespace

Bytes encode(const wire::ClientMessage& message) {
    Bytes out(4, 0);
    std::visit(Writer{out}, message.message);
    const auto length = static_cast<std::uint32_t>(out.size() - 4);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    return out;
}

Result<wire::HostMessage, wire::WireError> decode(std::span<const std::uint8_t> body) {
    if (body.empty())
        return fail(wire::WireError::truncated());
    wire::ByteReader in(body.subspan(1));
    wire::HostMessage message;
    switch (body[0]) {
        case 0x81: {
            wire::host::Welcome m;
            m.version = in.u16();
            in.raw(m.host_id);
            m.host_name = in.str();
            if (in.u8() == 1) {
                m.token.emplace();
                in.raw(*m.token);
            }
            const auto count = in.u8();
            for (int i = 0; i < count && !in.failed(); ++i) {
                wire::DisplayEntry d;
                d.id = in.u32();
                d.name = in.str();
                d.width = in.u16();
                d.height = in.u16();
                d.pixel_width = in.u16();
                d.pixel_height = in.u16();
                d.main = in.boolean();
                m.displays.push_back(std::move(d));
            }
            m.main_display = in.u32();
            m.permissions.bits = in.u8();
            message.message = std::move(m);
            break;
        }
        case 0x82: {
            wire::host::Error m;
            m.code = static_cast<wire::ErrorCode>(in.u8());
            m.message = in.str();
            message.message = std::move(m);
            break;
        }
        case 0x83: {
            wire::host::StreamFormat m;
            in.u8();  // codec
            m.width = in.u16();
            m.height = in.u16();
            m.display_id = in.u32();
            m.fps = in.u8();
            const auto count = in.u8();
            for (int i = 0; i < count && !in.failed(); ++i) {
                wire::Bytes set(in.u16());
                in.raw(set);
                m.parameter_sets.push_back(std::move(set));
            }
            message.message = std::move(m);
            break;
        }
        case 0x84: {
            wire::host::VideoFrame m;
            m.seq = in.u32();
            m.pts_us = in.u64();
            m.keyframe = in.boolean();
            wire::Bytes data(in.remaining());
            in.raw(data);
            m.data = std::make_shared<const wire::Bytes>(std::move(data));
            message.message = std::move(m);
            break;
        }
        case 0x85: {
            wire::host::Cursor m;
            m.x = in.f32();
            m.y = in.f32();
            m.inside = in.boolean();
            message.message = m;
            break;
        }
        case 0x86:
            message.message = wire::host::Pong{in.u64()};
            break;
        case 0x87:
            message.message = wire::host::Permissions{wire::PermissionSet{in.u8()}};
            break;
        case 0x88: {
            wire::host::Goodbye m;
            m.reason = static_cast<wire::GoodbyeReason>(in.u8());
            m.message = in.str();
            message.message = std::move(m);
            break;
        }
        default:
            return fail(wire::WireError::unknown_type(body[0]));
    }
    if (in.failed())
        return fail(in.error());
    if (in.remaining() != 0)
        return fail(wire::WireError::trailing_bytes(in.remaining()));
    return message;
}

}  // namespace mirravale::phone

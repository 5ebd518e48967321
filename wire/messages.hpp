#pragma once
// Every message of the phone protocol. The host decodes `ClientMessage` and encodes
// `HostMessage`; the opposite directions belong to the phone.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "wire/codec.hpp"
#include "wire/result.hpp"

namespace mirravale::wire {

inline constexpr std::uint16_t PROTOCOL_VERSION = 1;

using Bytes = std::vector<std::uint8_t>;
// An encoded picture, shared so it is queued and written without a copy.
using SharedBytes = std::shared_ptr<const Bytes>;
using DeviceId = std::array<std::uint8_t, 16>;
using DeviceToken = std::array<std::uint8_t, 32>;

struct HelloAuth {
    struct PairingCode {
        std::string code;
        friend bool operator==(const PairingCode&, const PairingCode&) = default;
    };
    struct Token {
        DeviceToken token;
        friend bool operator==(const Token&, const Token&) = default;
    };
    std::variant<PairingCode, Token> kind;
    friend bool operator==(const HelloAuth&, const HelloAuth&) = default;
};

enum class Codec : std::uint8_t { H264 = 1 };
enum class MouseButton : std::uint8_t { Left = 0, Right = 1, Middle = 2 };
enum class ScrollPhase : std::uint8_t { None = 0, Began = 1, Changed = 2, Ended = 3 };

// Any byte is a reason: the ones not named here are "other" reasons carried unchanged.
enum class GoodbyeReason : std::uint8_t {
    Normal = 0,
    Replaced = 1,
    HostQuitting = 2,
    Revoked = 3,
    TimedOut = 4,
};
// Like `GoodbyeReason`, unnamed values travel unchanged.
enum class ErrorCode : std::uint8_t {
    VersionMismatch = 1,
    Unauthorized = 2,
    CodeExpired = 3,
    Busy = 4,
    HostError = 5,
};

struct Modifiers {
    static constexpr std::uint8_t SHIFT = 1 << 0;
    static constexpr std::uint8_t CONTROL = 1 << 1;
    static constexpr std::uint8_t OPTION = 1 << 2;
    static constexpr std::uint8_t COMMAND = 1 << 3;
    static constexpr std::uint8_t CAPS_LOCK = 1 << 4;
    static constexpr std::uint8_t FUNCTION = 1 << 5;
    std::uint8_t bits = 0;
    bool has(std::uint8_t flag) const { return (bits & flag) != 0; }
    friend bool operator==(const Modifiers&, const Modifiers&) = default;
};

struct PermissionSet {
    static constexpr std::uint8_t SCREEN_RECORDING = 1;
    static constexpr std::uint8_t ACCESSIBILITY = 2;
    std::uint8_t bits = 0;
    bool has(std::uint8_t flag) const { return (bits & flag) != 0; }
    friend bool operator==(const PermissionSet&, const PermissionSet&) = default;
};

namespace client {

struct Hello {
    std::uint16_t version = 0;
    DeviceId device_id{};
    std::string device_name;
    std::string app_version;
    HelloAuth auth;
    friend bool operator==(const Hello&, const Hello&) = default;
};
struct StreamRequest {
    std::uint32_t display_id = 0;
    std::uint16_t max_width = 0;
    std::uint16_t max_height = 0;
    std::uint8_t fps = 0;
    std::uint32_t bitrate_kbps = 0;
    Codec codec = Codec::H264;
    friend bool operator==(const StreamRequest&, const StreamRequest&) = default;
};
struct KeyframeRequest {
    friend bool operator==(const KeyframeRequest&, const KeyframeRequest&) = default;
};
struct FrameAck {
    std::uint32_t seq = 0;
    friend bool operator==(const FrameAck&, const FrameAck&) = default;
};
struct Ping {
    std::uint64_t nonce = 0;
    friend bool operator==(const Ping&, const Ping&) = default;
};
struct Goodbye {
    GoodbyeReason reason = GoodbyeReason::Normal;
    friend bool operator==(const Goodbye&, const Goodbye&) = default;
};
struct PointerAbsolute {
    float x = 0;
    float y = 0;
    friend bool operator==(const PointerAbsolute&, const PointerAbsolute&) = default;
};
struct PointerRelative {
    float dx = 0;
    float dy = 0;
    friend bool operator==(const PointerRelative&, const PointerRelative&) = default;
};
struct PointerButton {
    MouseButton button = MouseButton::Left;
    bool pressed = false;
    std::uint8_t clicks = 0;
    friend bool operator==(const PointerButton&, const PointerButton&) = default;
};
struct Scroll {
    float dx = 0;
    float dy = 0;
    ScrollPhase phase = ScrollPhase::None;
    friend bool operator==(const Scroll&, const Scroll&) = default;
};
struct Key {
    std::uint16_t keycode = 0;
    bool pressed = false;
    Modifiers modifiers;
    friend bool operator==(const Key&, const Key&) = default;
};
struct Text {
    std::string text;
    friend bool operator==(const Text&, const Text&) = default;
};
struct FollowPointer {
    bool enabled = false;
    friend bool operator==(const FollowPointer&, const FollowPointer&) = default;
};

}  // namespace client

struct ClientMessage {
    std::variant<client::Hello, client::StreamRequest, client::KeyframeRequest, client::FrameAck,
                 client::Ping, client::Goodbye, client::PointerAbsolute, client::PointerRelative,
                 client::PointerButton, client::Scroll, client::Key, client::Text,
                 client::FollowPointer>
        message;

    // `body` is one frame without its length prefix: the type byte, then the fields.
    static Result<ClientMessage, WireError> decode(std::span<const std::uint8_t> body);
    friend bool operator==(const ClientMessage&, const ClientMessage&) = default;
};

struct DisplayEntry {
    std::uint32_t id = 0;
    std::string name;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t pixel_width = 0;
    std::uint16_t pixel_height = 0;
    bool main = false;
    friend bool operator==(const DisplayEntry&, const DisplayEntry&) = default;
};

namespace host {

struct Welcome {
    std::uint16_t version = PROTOCOL_VERSION;
    DeviceId host_id{};
    std::string host_name;
    std::optional<DeviceToken> token;
    std::vector<DisplayEntry> displays;
    std::uint32_t main_display = 0;
    PermissionSet permissions;
    friend bool operator==(const Welcome&, const Welcome&) = default;
};
struct Error {
    ErrorCode code = ErrorCode::HostError;
    std::string message;
    friend bool operator==(const Error&, const Error&) = default;
};
struct StreamFormat {
    Codec codec = Codec::H264;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t display_id = 0;
    std::uint8_t fps = 0;
    std::vector<Bytes> parameter_sets;
    friend bool operator==(const StreamFormat&, const StreamFormat&) = default;
};
struct VideoFrame {
    std::uint32_t seq = 0;
    std::uint64_t pts_us = 0;
    bool keyframe = false;
    SharedBytes data;
};
struct Cursor {
    float x = 0;
    float y = 0;
    bool inside = false;
    friend bool operator==(const Cursor&, const Cursor&) = default;
};
struct Pong {
    std::uint64_t nonce = 0;
    friend bool operator==(const Pong&, const Pong&) = default;
};
struct Permissions {
    PermissionSet flags;
    friend bool operator==(const Permissions&, const Permissions&) = default;
};
struct Goodbye {
    GoodbyeReason reason = GoodbyeReason::Normal;
    std::string message;
    friend bool operator==(const Goodbye&, const Goodbye&) = default;
};

}  // namespace host

inline constexpr std::size_t VIDEO_FRAME_HEADER_LEN = 18;

struct HostMessage {
    std::variant<host::Welcome, host::Error, host::StreamFormat, host::VideoFrame, host::Cursor,
                 host::Pong, host::Permissions, host::Goodbye>
        message;

    // Appends one complete frame (length prefix included) to `buffer`; never fails.
    void encode_into(Bytes& buffer) const;
};

// The frame header of a video frame alone, so its payload can be written straight from the
// message.
std::array<std::uint8_t, VIDEO_FRAME_HEADER_LEN> video_frame_header(const host::VideoFrame& frame);

}  // namespace mirravale::wire

#pragma once
// Field encodings, the reading cursor and the errors of the phone protocol. Every multi-byte
// value is big-endian; nothing is aligned or padded.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "wire/result.hpp"
#include "wire/utf8.hpp"

namespace mirravale::wire {

// Frames longer than this are refused before their body is read. Outgoing frames are not measured.
inline constexpr std::uint32_t MAX_FRAME_LEN = 16 * 1024 * 1024;
inline constexpr std::size_t FRAME_PREFIX_LEN = 4;

struct WireError {
    enum class Kind : std::uint8_t {
        Truncated,
        UnknownType,
        InvalidValue,
        TooLong,
        InvalidUtf8,
        TrailingBytes,
    };
    Kind kind = Kind::Truncated;
    std::uint8_t type = 0;   // UnknownType
    std::string_view field;  // InvalidValue: "auth kind", "codec", ..., "bool"
    std::size_t count = 0;   // TooLong: the length; TrailingBytes: the bytes left

    static WireError truncated() { return {Kind::Truncated, 0, {}, 0}; }
    static WireError unknown_type(std::uint8_t type) { return {Kind::UnknownType, type, {}, 0}; }
    static WireError invalid_value(std::string_view field) {
        return {Kind::InvalidValue, 0, field, 0};
    }
    static WireError too_long(std::size_t length) { return {Kind::TooLong, 0, {}, length}; }
    static WireError invalid_utf8() { return {Kind::InvalidUtf8, 0, {}, 0}; }
    static WireError trailing_bytes(std::size_t left) { return {Kind::TrailingBytes, 0, {}, left}; }

    friend bool operator==(const WireError&, const WireError&) = default;
};

// "message ended early", "unknown message type 0x0a", ...
std::string to_string(const WireError& error);

// The body length announced by a frame's 4-byte prefix: 0 is `Truncated`, anything over
// `MAX_FRAME_LEN` is `TooLong`, both decided before any of the body is read.
Result<std::uint32_t, WireError> frame_body_length(std::span<const std::uint8_t, 4> prefix);

// A reading cursor over one frame body. The first failure sticks: later reads return zero
// values and leave the error as it is, so the first failing field decides the result.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::uint64_t u64();
    float f32();         // any bit pattern
    float finite_f32();  // InvalidValue("float") for infinities and NaNs
    bool boolean();      // InvalidValue("bool") for bytes other than 0 and 1
    std::string str();   // u16 count, then that many bytes of strict UTF-8
    void raw(std::span<std::uint8_t> out);

    // Records a value check's failure (first failure wins).
    void invalid(std::string_view field);

    bool failed() const { return failed_; }
    const WireError& error() const { return error_; }
    std::size_t remaining() const { return bytes_.size() - position_; }

  private:
    // The next `n` bytes, or an empty span after recording `Truncated`.
    std::span<const std::uint8_t> take(std::size_t n);
    void fail_with(WireError error);

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
    WireError error_;
};

// Appending writers for the host's direction.
namespace put {
void u8(std::vector<std::uint8_t>& out, std::uint8_t value);
void u16(std::vector<std::uint8_t>& out, std::uint16_t value);
void u32(std::vector<std::uint8_t>& out, std::uint32_t value);
void u64(std::vector<std::uint8_t>& out, std::uint64_t value);
void f32(std::vector<std::uint8_t>& out, float value);
void boolean(std::vector<std::uint8_t>& out, bool value);
// Count capped at 65535, moved back so only whole UTF-8 characters are sent. Bytes that are not
// UTF-8 are sent as U+FFFD.
void str(std::vector<std::uint8_t>& out, std::string_view text);
// Count capped at 65535; only that many bytes are written.
void blob(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes);
void raw(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes);
}  // namespace put

// How many bytes of `text` a str field carries: at most 65535, ending on a character boundary.
std::size_t str_wire_length(std::string_view text);

// Cuts frame bodies out of a byte stream that arrives in pieces of any size. The body buffer is
// reused from frame to frame.
class FrameReader {
  public:
    // Takes bytes from `input` up to the end of the current frame; returns how many it took.
    std::size_t feed(std::span<const std::uint8_t> input);

    // A complete body is ready (until `next()`); a framing error stops the reader for good.
    bool has_body() const { return state_ == State::Complete; }
    std::span<const std::uint8_t> body() const { return body_; }
    void next();
    bool failed() const { return state_ == State::Failed; }
    const WireError& error() const { return error_; }

  private:
    enum class State { Prefix, Body, Complete, Failed };
    State state_ = State::Prefix;
    std::array<std::uint8_t, 4> prefix_{};
    std::size_t prefix_have_ = 0;
    std::vector<std::uint8_t> body_;
    std::size_t body_length_ = 0;
    WireError error_;
};

}  // namespace mirravale::wire

template <>
struct fmt::formatter<mirravale::wire::WireError> : fmt::formatter<std::string_view> {
    template <class Context>
    auto format(const mirravale::wire::WireError& error, Context& context) const {
        return fmt::formatter<std::string_view>::format(mirravale::wire::to_string(error), context);
    }
};

#include "wire/codec.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include <fmt/format.h>

namespace mirravale::wire {

std::string to_string(const WireError& error) {
    switch (error.kind) {
        case WireError::Kind::Truncated:
            return "message ended early";
        case WireError::Kind::UnknownType:
            return fmt::format("unknown message type 0x{:02x}", error.type);
        case WireError::Kind::InvalidValue:
            return fmt::format("invalid {}", error.field);
        case WireError::Kind::TooLong:
            return fmt::format("message of {} bytes is over the limit", error.count);
        case WireError::Kind::InvalidUtf8:
            return "string is not UTF-8";
        case WireError::Kind::TrailingBytes:
            return fmt::format("{} unread bytes at the end of the message", error.count);
    }
    return "invalid message";
}

Result<std::uint32_t, WireError> frame_body_length(std::span<const std::uint8_t, 4> prefix) {
    const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) |
                                 (std::uint32_t{prefix[1]} << 16) |
                                 (std::uint32_t{prefix[2]} << 8) | std::uint32_t{prefix[3]};
    if (length == 0) {
        return fail(WireError::truncated());
    }
    if (length > MAX_FRAME_LEN) {
        return fail(WireError::too_long(length));
    }
    return length;
}

// ---- reading

void ByteReader::fail_with(WireError error) {
    if (!failed_) {
        failed_ = true;
        error_ = error;
    }
}

void ByteReader::invalid(std::string_view field) {
    fail_with(WireError::invalid_value(field));
}

std::span<const std::uint8_t> ByteReader::take(std::size_t n) {
    if (failed_) {
        return {};
    }
    if (remaining() < n) {
        fail_with(WireError::truncated());
        return {};
    }
    auto taken = bytes_.subspan(position_, n);
    position_ += n;
    return taken;
}

namespace {
template <class T>
T big_endian(std::span<const std::uint8_t> bytes) {
    T value = 0;
    if (bytes.size() != sizeof(T)) {
        return value;
    }
    for (auto b : bytes) {
        value = static_cast<T>((value << 8) | b);
    }
    return value;
}
}  // namespace

std::uint8_t ByteReader::u8() {
    return big_endian<std::uint8_t>(take(1));
}
std::uint16_t ByteReader::u16() {
    return big_endian<std::uint16_t>(take(2));
}
std::uint32_t ByteReader::u32() {
    return big_endian<std::uint32_t>(take(4));
}
std::uint64_t ByteReader::u64() {
    return big_endian<std::uint64_t>(take(8));
}
float ByteReader::f32() {
    return std::bit_cast<float>(u32());
}

float ByteReader::finite_f32() {
    const std::uint32_t bits = u32();
    if (!failed_ && (bits & 0x7FFFFFFFu) > 0x7F7FFFFFu) {
        invalid("float");
    }
    return std::bit_cast<float>(bits);
}

bool ByteReader::boolean() {
    const auto byte = u8();
    if (!failed_ && byte > 1) {
        invalid("bool");
    }
    return byte == 1;
}

std::string ByteReader::str() {
    const std::uint16_t count = u16();
    const auto bytes = take(count);
    if (failed_) {
        return {};
    }
    std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!is_utf8(text)) {
        fail_with(WireError::invalid_utf8());
        return {};
    }
    return text;
}

void ByteReader::raw(std::span<std::uint8_t> out) {
    const auto bytes = take(out.size());
    if (!failed_) {
        std::copy(bytes.begin(), bytes.end(), out.begin());
    }
}

// ---- writing

namespace put {
namespace {
template <class T>
void big_endian(std::vector<std::uint8_t>& out, T value) {
    for (int shift = (sizeof(T) - 1) * 8; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}
}  // namespace

void u8(std::vector<std::uint8_t>& out, std::uint8_t value) {
    out.push_back(value);
}
void u16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    big_endian(out, value);
}
void u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    big_endian(out, value);
}
void u64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    big_endian(out, value);
}
void f32(std::vector<std::uint8_t>& out, float value) {
    u32(out, std::bit_cast<std::uint32_t>(value));
}
void boolean(std::vector<std::uint8_t>& out, bool value) {
    out.push_back(value ? 1 : 0);
}

void str(std::vector<std::uint8_t>& out, std::string_view text) {
    // Host texts come from the system (display and computer names) and may hold bytes that are
    // not UTF-8; the phone refuses a whole message over one such byte, so they are repaired.
    if (!is_utf8(text)) {
        str(out, to_valid_utf8(text));
        return;
    }
    const std::size_t n = str_wire_length(text);
    u16(out, static_cast<std::uint16_t>(n));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
}

void blob(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    const std::size_t n = std::min<std::size_t>(bytes.size(), 0xFFFF);
    u16(out, static_cast<std::uint16_t>(n));
    out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

void raw(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}
}  // namespace put

std::size_t str_wire_length(std::string_view text) {
    if (text.size() <= 0xFFFF) {
        return text.size();
    }
    std::size_t n = 0xFFFF;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
    }
    return n;
}

// ---- framing

std::size_t FrameReader::feed(std::span<const std::uint8_t> input) {
    std::size_t used = 0;
    if (state_ == State::Prefix) {
        const std::size_t n = std::min(input.size(), prefix_.size() - prefix_have_);
        std::copy_n(input.begin(), n, prefix_.begin() + static_cast<std::ptrdiff_t>(prefix_have_));
        prefix_have_ += n;
        used += n;
        if (prefix_have_ < prefix_.size()) {
            return used;
        }
        auto length = frame_body_length(prefix_);
        if (!length) {
            error_ = length.error();
            state_ = State::Failed;
            return used;
        }
        // The body grows as its bytes arrive, so a peer that announces 16 MiB and sends
        // nothing costs nothing; the buffer's capacity is kept from frame to frame.
        body_.clear();
        body_length_ = *length;
        state_ = State::Body;
    }
    if (state_ == State::Body) {
        const auto rest = input.subspan(used);
        const std::size_t n = std::min(rest.size(), body_length_ - body_.size());
        body_.insert(body_.end(), rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(n));
        used += n;
        if (body_.size() == body_length_) {
            state_ = State::Complete;
        }
    }
    return used;
}

void FrameReader::next() {
    if (state_ == State::Complete) {
        state_ = State::Prefix;
        prefix_have_ = 0;
    }
}

}  // namespace mirravale::wire

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "wire/messages.hpp"

namespace mirravale::wire {
namespace {

using B = std::vector<std::uint8_t>;

B cat(std::initializer_list<B> parts) {
    B out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
B zeros(std::size_t n) {
    return B(n, 0);
}
const B NAN_BITS = {0x7F, 0xC0, 0x00, 0x00};
const B INF_BITS = {0xFF, 0x80, 0x00, 0x00};
const B MAX_FLOAT = {0x7F, 0x7F, 0xFF, 0xFF};

struct ErrorCase {
    const char* name;
    B body;
    WireError expected;
};

class DecodeErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(DecodeErrors, FirstFailingFieldDecides) {
    const auto result = ClientMessage::decode(GetParam().body);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), GetParam().expected) << to_string(result.error());
}

const B HELLO_HEAD = cat({{0x01, 0x00, 0x01}, zeros(16), {0x00, 0x01, 'p'}, {0x00, 0x00}});

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeErrors,
    testing::Values(
        ErrorCase{"empty", {}, WireError::truncated()},
        ErrorCase{"type00", {0x00}, WireError::unknown_type(0x00)},
        ErrorCase{"type07", {0x07}, WireError::unknown_type(0x07)},
        ErrorCase{"type0f", {0x0F}, WireError::unknown_type(0x0F)},
        ErrorCase{"type17", {0x17}, WireError::unknown_type(0x17)},
        ErrorCase{"type81", {0x81}, WireError::unknown_type(0x81)},
        ErrorCase{"keyframe_trailing", {0x03, 0x00}, WireError::trailing_bytes(1)},
        ErrorCase{"stream_codec2", cat({{0x02}, zeros(13), {0x02}}),
                  WireError::invalid_value("codec")},
        ErrorCase{"stream_13", cat({{0x02}, zeros(12), {0x01}}), WireError::truncated()},
        ErrorCase{"stream_15", cat({{0x02}, zeros(13), {0x01, 0x00}}),
                  WireError::trailing_bytes(1)},
        ErrorCase{"abs_nan_missing_y", cat({{0x10}, NAN_BITS}), WireError::invalid_value("float")},
        ErrorCase{"abs_inf_y", cat({{0x10}, MAX_FLOAT, INF_BITS}),
                  WireError::invalid_value("float")},
        ErrorCase{"rel_negative_nan",
                  {0x11, 0xFF, 0xC0, 0, 1, 0, 0, 0, 0},
                  WireError::invalid_value("float")},
        ErrorCase{"button3", {0x12, 0x03}, WireError::invalid_value("mouse button")},
        ErrorCase{"button_bool2", {0x12, 0x00, 0x02}, WireError::invalid_value("bool")},
        ErrorCase{"button_short", {0x12, 0x00, 0x01}, WireError::truncated()},
        ErrorCase{"scroll_phase4", cat({{0x13}, zeros(8), {0x04}}),
                  WireError::invalid_value("scroll phase")},
        ErrorCase{"key_no_mods", {0x14, 0x00, 0x24, 0x01}, WireError::truncated()},
        ErrorCase{"key_bool5_no_mods", {0x14, 0x00, 0x24, 0x05}, WireError::invalid_value("bool")},
        ErrorCase{"text_count_over", {0x15, 0x00, 0x03, 'a', 'b'}, WireError::truncated()},
        ErrorCase{"text_bad_utf8", {0x15, 0x00, 0x02, 0xC3, 0x28}, WireError::invalid_utf8()},
        ErrorCase{"text_overlong", {0x15, 0x00, 0x02, 0xC0, 0xAF}, WireError::invalid_utf8()},
        ErrorCase{
            "text_surrogate", {0x15, 0x00, 0x03, 0xED, 0xA0, 0x80}, WireError::invalid_utf8()},
        ErrorCase{"text_above_max",
                  {0x15, 0x00, 0x04, 0xF4, 0x90, 0x80, 0x80},
                  WireError::invalid_utf8()},
        ErrorCase{"follow_bool2", {0x16, 0x02}, WireError::invalid_value("bool")},
        ErrorCase{"ack_short", {0x04, 0, 0, 0}, WireError::truncated()},
        ErrorCase{"hello_auth3", cat({HELLO_HEAD, {0x03}}), WireError::invalid_value("auth kind")},
        ErrorCase{"hello_token31", cat({HELLO_HEAD, {0x02}, zeros(31)}), WireError::truncated()},
        ErrorCase{"hello_no_auth", HELLO_HEAD, WireError::truncated()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Decode, ValidMessages) {
    struct Case {
        B body;
        ClientMessage expected;
    };
    client::Hello hello;
    hello.version = 1;
    hello.device_name = "p";
    hello.auth = HelloAuth{HelloAuth::PairingCode{"AB-CD"}};
    client::Hello token_hello = hello;
    token_hello.version = 2;
    HelloAuth::Token token{};
    token.token.fill(0x5A);
    token_hello.auth = HelloAuth{token};

    const std::vector<Case> cases = {
        {{0x03}, {client::KeyframeRequest{}}},
        {cat({HELLO_HEAD, {0x01, 0x00, 0x05, 'A', 'B', '-', 'C', 'D'}}), {hello}},
        {cat({{0x01, 0x00, 0x02}, zeros(16), {0x00, 0x01, 'p'}, {0x00, 0x00}, {0x02}, B(32, 0x5A)}),
         {token_hello}},
        {{0x02, 0, 0, 0, 7, 0x07, 0x80, 0x04, 0x38, 60, 0, 0, 0x17, 0x70, 0x01},
         {client::StreamRequest{7, 1920, 1080, 60, 6000, Codec::H264}}},
        {{0x04, 0, 0, 1, 0}, {client::FrameAck{256}}},
        {{0x05, 1, 2, 3, 4, 5, 6, 7, 8}, {client::Ping{0x0102030405060708}}},
        {{0x06, 200}, {client::Goodbye{static_cast<GoodbyeReason>(200)}}},
        {{0x10, 0x3F, 0, 0, 0, 0x3F, 0x80, 0, 0}, {client::PointerAbsolute{0.5f, 1.0f}}},
        {cat({{0x11}, MAX_FLOAT, {0x80, 0, 0, 0}}),
         {client::PointerRelative{std::numeric_limits<float>::max(), -0.0f}}},
        {{0x12, 0x02, 0x01, 0x02}, {client::PointerButton{MouseButton::Middle, true, 2}}},
        {cat({{0x13}, zeros(8), {0x03}}), {client::Scroll{0, 0, ScrollPhase::Ended}}},
        {{0x14, 0x00, 0x24, 0x00, 0xFF}, {client::Key{0x24, false, Modifiers{0xFF}}}},
        {{0x15, 0x00, 0x00}, {client::Text{""}}},
        {{0x15, 0x00, 0x04, 0xF0, 0x9F, 0x98, 0x80}, {client::Text{"\xF0\x9F\x98\x80"}}},
        {{0x16, 0x01}, {client::FollowPointer{true}}},
    };
    for (const auto& c : cases) {
        const auto result = ClientMessage::decode(c.body);
        ASSERT_TRUE(result.ok()) << to_string(result.error()) << " type " << int(c.body[0]);
        EXPECT_EQ(*result, c.expected) << "type " << int(c.body[0]);
    }
}

TEST(WireErrorText, Displays) {
    EXPECT_EQ(to_string(WireError::truncated()), "message ended early");
    EXPECT_EQ(to_string(WireError::unknown_type(0x0A)), "unknown message type 0x0a");
    EXPECT_EQ(to_string(WireError::unknown_type(5)), "unknown message type 0x05");
    EXPECT_EQ(to_string(WireError::invalid_value("mouse button")), "invalid mouse button");
    EXPECT_EQ(to_string(WireError::too_long(16777217)),
              "message of 16777217 bytes is over the limit");
    EXPECT_EQ(to_string(WireError::invalid_utf8()), "string is not UTF-8");
    EXPECT_EQ(to_string(WireError::trailing_bytes(3)), "3 unread bytes at the end of the message");
}

}  // namespace
}  // namespace mirravale::wire

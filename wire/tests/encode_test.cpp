#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/messages.hpp"

namespace mirravale::wire {
namespace {

using B = std::vector<std::uint8_t>;

B encode(const HostMessage& m) {
    B out;
    m.encode_into(out);
    return out;
}

TEST(Encode, EachHostMessageByteForByte) {
    host::Welcome welcome;
    welcome.host_id.fill(0x11);
    welcome.host_name = "Hi";
    welcome.displays = {DisplayEntry{7, "D", 1920, 1080, 3840, 2160, true}};
    welcome.main_display = 7;
    welcome.permissions = PermissionSet{3};
    host::Welcome with_token = welcome;
    with_token.displays.clear();
    with_token.token.emplace();
    with_token.token->fill(0xAB);

    struct Case {
        HostMessage message;
        B expected;
    };
    B welcome_bytes = {0, 0, 0, 0, 0x81, 0x00, 0x01};
    welcome_bytes.insert(welcome_bytes.end(), 16, 0x11);
    for (auto b : B{0,    2,    'H',  'i',  0x00, 0x01, 0,    0,    0, 7, 0, 1, 'D', 0x07,
                    0x80, 0x04, 0x38, 0x0F, 0x00, 0x08, 0x70, 0x01, 0, 0, 0, 7, 0x03})
        welcome_bytes.push_back(b);
    welcome_bytes[3] = static_cast<std::uint8_t>(welcome_bytes.size() - 4);

    B token_bytes = {0, 0, 0, 0, 0x81, 0x00, 0x01};
    token_bytes.insert(token_bytes.end(), 16, 0x11);
    for (auto b : B{0, 2, 'H', 'i', 0x01})
        token_bytes.push_back(b);
    token_bytes.insert(token_bytes.end(), 32, 0xAB);
    for (auto b : B{0x00, 0, 0, 0, 7, 0x03})
        token_bytes.push_back(b);
    token_bytes[3] = static_cast<std::uint8_t>(token_bytes.size() - 4);

    const std::vector<Case> cases = {
        {{welcome}, welcome_bytes},
        {{with_token}, token_bytes},
        {{host::Error{ErrorCode::Unauthorized, "no"}}, {0, 0, 0, 6, 0x82, 2, 0, 2, 'n', 'o'}},
        {{host::Error{static_cast<ErrorCode>(77), ""}}, {0, 0, 0, 4, 0x82, 77, 0, 0}},
        {{host::StreamFormat{Codec::H264, 640, 480, 9, 30, {{0x67, 0x42}, {0x68}}}},
         {0, 0, 0,  0x13, 0x83, 1, 0x02, 0x80, 0x01, 0xE0, 0,   0,
          0, 9, 30, 2,    0,    2, 0x67, 0x42, 0,    1,    0x68}},
        {{host::Cursor{1.0f, 0.0f, true}}, {0, 0, 0, 10, 0x85, 0x3F, 0x80, 0, 0, 0, 0, 0, 0, 1}},
        {{host::Pong{0x0102030405060708}}, {0, 0, 0, 9, 0x86, 1, 2, 3, 4, 5, 6, 7, 8}},
        {{host::Permissions{PermissionSet{2}}}, {0, 0, 0, 2, 0x87, 2}},
        {{host::Permissions{PermissionSet{0xFE}}}, {0, 0, 0, 2, 0x87, 2}},
        {{host::Goodbye{static_cast<GoodbyeReason>(200), "x"}}, {0, 0, 0, 5, 0x88, 200, 0, 1, 'x'}},
        {{host::VideoFrame{3, 0x10, true, std::make_shared<const B>(B{0, 0, 0, 1, 0x65})}},
         {0, 0, 0, 19, 0x84, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0x10, 1, 0, 0, 0, 1, 0x65}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encode(c.message), c.expected) << "type " << int(c.expected[4]);
    }
}

TEST(Encode, AppendsFramesBackToBack) {
    B buffer = {0xEE};
    HostMessage{host::Pong{1}}.encode_into(buffer);
    HostMessage{host::Permissions{PermissionSet{1}}}.encode_into(buffer);
    EXPECT_EQ(buffer, (B{0xEE, 0, 0, 0, 9, 0x86, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0x87, 1}));
}

TEST(Encode, VideoHeaderAloneMatchesWholeFrame) {
    host::VideoFrame frame{9, 123456789, false, std::make_shared<const B>(B(1000, 7))};
    const auto header = video_frame_header(frame);
    const auto whole = encode({frame});
    ASSERT_EQ(whole.size(), VIDEO_FRAME_HEADER_LEN + 1000);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), whole.begin()));
}

TEST(Encode, TextCapsKeepWholeCharacters) {
    std::string euros;
    while (euros.size() < 70000)
        euros += "\xE2\x82\xAC";
    const std::string four = "\xF0\x9F\x98\x80";
    struct Case {
        const char* name;
        std::string text;
        std::size_t count;
    };
    const Case cases[] = {
        {"ascii_65536", std::string(65536, 'a'), 65535},
        {"ascii_65535_whole", std::string(65535, 'a'), 65535},
        {"two_byte_straddles", std::string(65534, 'a') + "\xC3\xA9", 65534},
        {"two_byte_fits", std::string(65533, 'a') + "\xC3\xA9", 65535},
        {"three_byte_run", euros, 65535 / 3 * 3},
        {"four_byte_straddles", std::string(65533, 'a') + four, 65533},
        {"only_one_long_char_cut", std::string(65535 - 3, 'a') + four + "b", 65532},
    };
    for (const auto& c : cases) {
        const auto bytes = encode({host::Goodbye{GoodbyeReason::Normal, c.text}});
        ASSERT_GE(bytes.size(), 8u) << c.name;
        EXPECT_EQ(std::size_t{bytes[6]} << 8 | bytes[7], c.count) << c.name;
        ASSERT_EQ(bytes.size(), 8 + c.count) << c.name;
        EXPECT_EQ(std::string(bytes.begin() + 8, bytes.end()), c.text.substr(0, c.count)) << c.name;
    }
}

TEST(Encode, TextThatIsNotUtf8IsRepaired) {
    // A Latin-1 computer name: the phone would refuse the whole Welcome over its one byte.
    host::Welcome welcome;
    welcome.host_name = "Caf\xE9";
    const auto bytes = encode({welcome});
    const std::size_t name_at = 4 + 1 + 2 + 16;
    EXPECT_EQ(std::string(bytes.begin() + name_at, bytes.begin() + name_at + 8),
              std::string("\x00\x06"
                          "Caf\xEF\xBF\xBD",
                          8));
}

TEST(Encode, ListsAndBlobsAreCapped) {
    host::Welcome welcome;
    welcome.displays.resize(300);
    for (std::size_t i = 0; i < 300; ++i)
        welcome.displays[i].id = static_cast<std::uint32_t>(i);
    const auto bytes = encode({welcome});
    const std::size_t count_at = 4 + 1 + 2 + 16 + 2 + 1;
    EXPECT_EQ(bytes[count_at], 255);
    const std::size_t entry = 4 + 2 + 8 + 1;
    ASSERT_EQ(bytes.size(), count_at + 1 + 255 * entry + 4 + 1);
    const std::size_t last_id_at = count_at + 1 + 254 * entry;
    EXPECT_EQ(B(bytes.begin() + last_id_at, bytes.begin() + last_id_at + 4), (B{0, 0, 0, 254}));

    host::StreamFormat format;
    format.parameter_sets = {B(70000, 1)};
    const auto f = encode({format});
    EXPECT_EQ(f.size(), 4u + 1 + 1 + 2 + 2 + 4 + 1 + 1 + 2 + 65535);
}

}  // namespace
}  // namespace mirravale::wire

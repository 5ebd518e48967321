#include <gtest/gtest.h>

#include "tools/phone/stream.hpp"

namespace {

using namespace mirravale;
using phone::parse_stream_options;

TEST(StreamOptions, WordsThatAreRefusedBeforeConnecting) {
    const std::vector<std::vector<std::string>> refused = {
        {"--bogus"},
        {"--frames"},                          // value missing
        {"--size", "1280"},                    // no x
        {"--size", "70000x10"},                // above 16 bits
        {"--fps", "300"},                      // above 8 bits
        {"--display", "-1"},                   // negative
        {"--seconds", "5s"},                   // trailing garbage
        {"--move-after", "3", "inf", "0"},     // not finite
        {"--move-after", "3", "0.5"},          // one value short
        {"--resize-after", "x", "640x360"},    // frame count not a number
        {"--point-after", "1", "nan", "0.5"},  // not a number
    };
    for (const auto& words : refused) {
        EXPECT_FALSE(parse_stream_options(words)) << words[0] << " " << words.size();
    }
}

TEST(StreamOptions, LaterRequestsChangeOnlyTheirSizeOrDisplay) {
    // The options after a scripted request still shape it.
    const auto options =
        parse_stream_options({"--resize-after", "10", "640x360", "--fps", "60", "--display", "7",
                              "--select-after", "4", "9", "--size", "1280x720"});
    ASSERT_TRUE(options) << options.error();
    EXPECT_EQ(options->request,
              (wire::client::StreamRequest{7, 1280, 720, 60, 0, wire::Codec::H264}));
    ASSERT_EQ(options->actions.size(), 2u);
    // In frame order, not in the order given.
    EXPECT_EQ(options->actions[0].after, 4u);
    EXPECT_EQ(
        options->actions[0].message.message,
        (wire::ClientMessage{wire::client::StreamRequest{9, 1280, 720, 60, 0, wire::Codec::H264}}
             .message));
    EXPECT_EQ(options->actions[1].after, 10u);
    EXPECT_EQ(phone::describe(options->actions[1].message),
              "StreamRequest 640x360 display 7 fps 60");
}

TEST(StreamOptions, FollowGoesFirstAndPointerMessagesKeepTheirValues) {
    const auto options = parse_stream_options(
        {"--move-after", "2", "-1", "0.25", "--follow", "--point-after", "2", "0.5", "1"});
    ASSERT_TRUE(options) << options.error();
    ASSERT_EQ(options->actions.size(), 3u);
    EXPECT_EQ(phone::describe(options->actions[0].message), "FollowPointer 1");
    EXPECT_EQ(options->actions[0].after, 0u);
    // Equal frame counts keep the order of the command line.
    EXPECT_EQ(phone::describe(options->actions[1].message), "PointerRelative -1 0.25");
    EXPECT_EQ(phone::describe(options->actions[2].message), "PointerAbsolute 0.5 1");
}

}  // namespace

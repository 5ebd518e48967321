#include <gtest/gtest.h>

#include <vector>

#include "wire/codec.hpp"
#include "wire/messages.hpp"

namespace mirravale::wire {
namespace {

using B = std::vector<std::uint8_t>;

TEST(FrameLength, LimitsAreCheckedBeforeTheBody) {
    struct Case {
        std::array<std::uint8_t, 4> prefix;
        bool ok;
        std::uint32_t length;
        WireError error;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, false, 0, WireError::truncated()},
        {{0, 0, 0, 1}, true, 1, {}},
        {{0x01, 0, 0, 0}, true, MAX_FRAME_LEN, {}},
        {{0x01, 0, 0, 1}, false, 0, WireError::too_long(MAX_FRAME_LEN + 1)},
        {{0xFF, 0xFF, 0xFF, 0xFF}, false, 0, WireError::too_long(0xFFFFFFFFu)},
    };
    for (const auto& c : cases) {
        const auto result = frame_body_length(c.prefix);
        ASSERT_EQ(result.ok(), c.ok);
        if (c.ok) {
            EXPECT_EQ(*result, c.length);
        } else {
            EXPECT_EQ(result.error(), c.error);
        }
    }
    EXPECT_EQ(to_string(WireError::too_long(MAX_FRAME_LEN + 1)),
              "message of 16777217 bytes is over the limit");
}

TEST(FrameReader, CutsFramesFromAnyChunking) {
    B stream;
    HostMessage{host::Pong{42}}.encode_into(stream);
    HostMessage{host::Permissions{PermissionSet{3}}}.encode_into(stream);
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        FrameReader reader;
        std::vector<B> bodies;
        for (std::size_t at = 0; at < stream.size();) {
            const auto end = std::min(stream.size(), at + chunk);
            std::span<const std::uint8_t> piece(stream.data() + at, end - at);
            while (!piece.empty()) {
                const auto used = reader.feed(piece);
                piece = piece.subspan(used);
                if (reader.has_body()) {
                    bodies.emplace_back(reader.body().begin(), reader.body().end());
                    reader.next();
                }
            }
            at = end;
        }
        ASSERT_EQ(bodies.size(), 2u) << "chunk " << chunk;
        EXPECT_EQ(bodies[0], (B{0x86, 0, 0, 0, 0, 0, 0, 0, 42}));
        EXPECT_EQ(bodies[1], (B{0x87, 3}));
    }
}

TEST(FrameReader, StopsOnZeroAndOversizedLengths) {
    FrameReader zero;
    const B z = {0, 0, 0, 0, 0x03};
    EXPECT_EQ(zero.feed(z), 4u);
    EXPECT_TRUE(zero.failed());
    EXPECT_EQ(zero.error(), WireError::truncated());

    FrameReader big;
    const B b = {0x01, 0x00, 0x00, 0x01, 0x03};
    EXPECT_EQ(big.feed(b), 4u);  // nothing of the body is taken
    EXPECT_TRUE(big.failed());
    EXPECT_EQ(big.error(), WireError::too_long(MAX_FRAME_LEN + 1));
}

TEST(FrameReader, TakesAFrameOfExactlyTheLimit) {
    B stream = {0x01, 0x00, 0x00, 0x00};
    stream.resize(4 + MAX_FRAME_LEN, 0x5A);
    stream.push_back(0);  // the next frame's first byte stays unread
    FrameReader reader;
    EXPECT_EQ(reader.feed(stream), 4u + MAX_FRAME_LEN);
    ASSERT_TRUE(reader.has_body());
    EXPECT_EQ(reader.body().size(), MAX_FRAME_LEN);
    EXPECT_EQ(reader.body().back(), 0x5A);
}

TEST(FrameReader, WaitsForNextBeforeTakingMore) {
    const B stream = {0, 0, 0, 1, 0x03, 0, 0, 0, 2, 0x16, 0x01};
    FrameReader reader;
    EXPECT_EQ(reader.feed(stream), 5u);
    ASSERT_TRUE(reader.has_body());
    EXPECT_EQ(reader.feed(std::span(stream).subspan(5)), 0u);
    EXPECT_EQ(B(reader.body().begin(), reader.body().end()), B{0x03});
    reader.next();
    EXPECT_EQ(reader.feed(std::span(stream).subspan(5)), 6u);
    ASSERT_TRUE(reader.has_body());
    EXPECT_EQ(B(reader.body().begin(), reader.body().end()), (B{0x16, 0x01}));
}

}  // namespace
}  // namespace mirravale::wire

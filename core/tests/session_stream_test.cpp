#include "core/tests/session_harness.hpp"

namespace mirravale::core::testing {
namespace {

using wire::client::StreamRequest;

struct StreamHarness : SessionHarness {
    // Waits for the session to start (or retarget) its pipeline.
    std::shared_ptr<FakePipeline::Stream> stream_number(std::size_t n) {
        for (int i = 0; i < 200; ++i) {
            auto streams = fakes.screen->streams();
            if (streams.size() >= n)
                return streams[n - 1];
            std::this_thread::sleep_for(5ms);
        }
        return nullptr;
    }
    // What a pipeline does with a picture: ask the gate, then report the encoded frame.
    static bool emit(FakePipeline::Stream& stream, bool keyframe, std::uint32_t width = 640) {
        if (!stream.gate->admit())
            return false;
        stream.sink(fake_frame(keyframe, width, 480));
        return true;
    }
};

TEST_F(StreamHarness, FormatComesFirstAndFramesAreNumberedFromOne) {
    auto phone = logged_in();
    phone.send({StreamRequest{0, 640, 480, 30, 0, wire::Codec::H264}});
    auto stream = stream_number(1);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->plan, (StreamPlan{1, 640, 360, 691, 30}));
    EXPECT_GE(stream->keyframe_requests, 1);

    ASSERT_TRUE(emit(*stream, false));  // before any keyframe: discarded
    ASSERT_TRUE(emit(*stream, true));
    ASSERT_TRUE(emit(*stream, false));
    const auto format = phone.next_of<wire::host::StreamFormat>();
    ASSERT_TRUE(format);
    EXPECT_EQ(format->display_id, 1u);
    EXPECT_EQ(format->fps, 30);
    EXPECT_EQ(format->parameter_sets.size(), 2u);
    const auto first = phone.next_of<wire::host::VideoFrame>();
    const auto second = phone.next_of<wire::host::VideoFrame>();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->seq, 1u);
    EXPECT_TRUE(first->keyframe);
    EXPECT_EQ(second->seq, 2u);
    EXPECT_FALSE(second->keyframe);
    EXPECT_EQ(service->status().latest().first.controller->stream, (StreamInfo{640, 360, 30}));
}

TEST_F(StreamHarness, WindowOfFourWithoutAcknowledgements) {
    auto phone = logged_in();
    phone.send({StreamRequest{}});
    auto stream = stream_number(1);
    ASSERT_TRUE(stream);
    int admitted = 0;
    for (int i = 0; i < 10; ++i)
        admitted += emit(*stream, i == 0);
    EXPECT_EQ(admitted, 4);
    ASSERT_TRUE(phone.next_of<wire::host::StreamFormat>());
    for (std::uint32_t seq = 1; seq <= 4; ++seq) {
        const auto frame = phone.next_of<wire::host::VideoFrame>();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->seq, seq);
    }
    phone.send({wire::client::FrameAck{4}});
    for (int i = 0; i < 200 && !stream->gate->admit(); ++i)
        std::this_thread::sleep_for(5ms);
    stream->gate->release();
    EXPECT_EQ(stream->gate->acked(), 4u);
}

TEST_F(StreamHarness, FullOutboundQueueDropsAndAsksForAKeyframe) {
    auto phone = logged_in(1, 3);
    phone.send({StreamRequest{}});
    auto stream = stream_number(1);
    ASSERT_TRUE(stream);
    const int requests_at_start = stream->keyframe_requests;
    // StreamFormat and frames 1 and 2 fill the queue of 3; frame 3 is dropped.
    emit(*stream, true);
    emit(*stream, false);
    emit(*stream, false);
    for (int i = 0; i < 200 && stream->keyframe_requests == requests_at_start; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_GT(stream->keyframe_requests, requests_at_start);

    ASSERT_TRUE(phone.next_of<wire::host::StreamFormat>());
    EXPECT_EQ(phone.next_of<wire::host::VideoFrame>()->seq, 1u);
    EXPECT_EQ(phone.next_of<wire::host::VideoFrame>()->seq, 2u);
    phone.send({wire::client::FrameAck{2}});
    for (int i = 0; i < 200 && stream->gate->in_flight() > 0; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(emit(*stream, false));  // discarded: a keyframe must come first
    EXPECT_TRUE(emit(*stream, true));
    const auto next = phone.next_of<wire::host::VideoFrame>();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->seq, 4u);  // number 3 was used by the dropped frame
    EXPECT_TRUE(next->keyframe);
}

TEST_F(StreamHarness, RetargetSendsANewFormat) {
    fakes.displays->set({Display{1, "A", Rect{0, 0, 1920, 1080}, 1920, 1080, true},
                         Display{2, "B", Rect{1920, 0, 1280, 720}, 1280, 720, false}});
    auto phone = logged_in();
    phone.send({StreamRequest{}});
    auto stream = stream_number(1);
    ASSERT_TRUE(stream);
    emit(*stream, true);
    ASSERT_TRUE(phone.next_of<wire::host::StreamFormat>());
    ASSERT_TRUE(phone.next_of<wire::host::VideoFrame>());

    // Following the pointer across the right edge moves the stream to the second display.
    phone.send({wire::client::FollowPointer{true}});
    phone.send({wire::client::PointerAbsolute{1.0f, 0.5f}});
    phone.send({wire::client::PointerRelative{0.01f, 0.0f}});
    for (int i = 0; i < 200 && stream->retargets().empty(); ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(stream->retargets().size(), 1u);
    EXPECT_EQ(stream->retargets()[0].display_id, 2u);
    emit(*stream, true);  // same parameter sets and size: still a new format
    const auto format = phone.next_of<wire::host::StreamFormat>();
    ASSERT_TRUE(format);
    EXPECT_EQ(format->display_id, 2u);
    EXPECT_EQ(fakes.screen->streams().size(), 1u);
}

TEST_F(StreamHarness, RefusedRetargetRestartsAndIgnoresTheOldPipeline) {
    fakes.screen->refuse_retargets("this pipeline cannot be retargeted");
    auto phone = logged_in();
    phone.send({StreamRequest{}});
    auto first = stream_number(1);
    ASSERT_TRUE(first);
    phone.send({StreamRequest{0, 320, 240, 0, 0, wire::Codec::H264}});
    auto second = stream_number(2);
    ASSERT_TRUE(second);
    EXPECT_TRUE(first->released);
    EXPECT_TRUE(first->gate->closed());
    first->sink(fake_frame(true, 1920, 1080));  // late: ignored
    emit(*second, true, 320);
    const auto format = phone.next_of<wire::host::StreamFormat>();
    ASSERT_TRUE(format);
    EXPECT_EQ(format->width, 320);
    EXPECT_EQ(phone.next_of<wire::host::VideoFrame>()->seq, 1u);
}

TEST_F(StreamHarness, StoppedPipelineLeavesANoticeAndNoStream) {
    auto phone = logged_in();
    phone.send({StreamRequest{}});
    auto stream = stream_number(1);
    ASSERT_TRUE(stream);
    stream->sink(pipeline::Stopped{"the display went away"});
    for (int i = 0; i < 200 && !stream->released; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(stream->released);
    const auto status = service->status().latest().first;
    EXPECT_EQ(status.notice, "the display went away");
    EXPECT_FALSE(status.controller->stream.has_value());
}

TEST_F(StreamHarness, FailedStartReportsPermissions) {
    fakes.screen->fail_starts("capture is not permitted");
    fakes.permissions->set(2);
    auto phone = logged_in();
    phone.send({StreamRequest{}});
    const auto update = phone.next_of<wire::host::Permissions>();
    ASSERT_TRUE(update);
    EXPECT_EQ(update->flags, wire::PermissionSet{2});
    EXPECT_EQ(service->status().latest().first.notice, "capture is not permitted");
}

TEST_F(StreamHarness, NoDisplayNoStream) {
    fakes.displays->set({});
    auto phone = logged_in();
    phone.send({StreamRequest{}});
    phone.send({wire::client::Ping{7}});
    ASSERT_TRUE(phone.next_of<wire::host::Pong>());
    EXPECT_TRUE(fakes.screen->streams().empty());
    EXPECT_EQ(service->status().latest().first.notice, "No display is available to stream.");
}

TEST_F(StreamHarness, PointerReportsFollowTheStreamedDisplay) {
    auto phone = logged_in();
    phone.send({StreamRequest{}});
    ASSERT_TRUE(stream_number(1));
    fakes.input->set_cursor(Point{-50, 540});
    const auto outside = phone.next_of<wire::host::Cursor>();
    ASSERT_TRUE(outside);
    EXPECT_EQ(*outside, (wire::host::Cursor{0.0f, 0.5f, false}));
    phone.send({wire::client::PointerAbsolute{1.0f, 1.0f}});
    const auto corner = phone.next_of<wire::host::Cursor>();
    ASSERT_TRUE(corner);
    EXPECT_TRUE(corner->inside);
    const auto moves = fakes.input->events();
    EXPECT_EQ(std::get<input::MoveTo>(moves.back()), (input::MoveTo{1919, 1079}));
}

}  // namespace
}  // namespace mirravale::core::testing

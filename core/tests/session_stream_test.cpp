#include "core/tests/session_harness.hpp"

namespace mirravale::core::testing {
namespace {

using wire::client::StreamRequest;

struct StreamHarness : SessionHarness {
    // Sends the request and returns the pipeline the session runs once it has handled it.
    std::shared_ptr<FakePipeline::Stream> request(Phone& phone, StreamRequest request = {}) {
        phone.send({request});
        EXPECT_TRUE(phone.sync());
        return fakes.screen->latest();
    }
    // What a pipeline does with a picture: ask the gate, then report the encoded frame.
    static bool emit(FakePipeline::Stream& stream, bool keyframe, std::uint32_t width = 640) {
        if (!stream.gate->admit()) {
            return false;
        }
        stream.sink(fake_frame(keyframe, width, 480));
        return true;
    }
};

TEST_F(StreamHarness, FormatComesFirstAndFramesAreNumberedFromOne) {
    auto phone = logged_in();
    auto stream = request(phone, {0, 640, 480, 30, 0, wire::Codec::H264});
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->plan, (StreamPlan{1, 640, 360, 691, 30}));
    EXPECT_EQ(stream->keyframe_requests, 1);

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
    const auto status = service->status().latest().first;
    EXPECT_EQ(status.controller->stream, (StreamInfo{640, 360, 30}));
    EXPECT_EQ(status.notice, std::nullopt);
}

TEST_F(StreamHarness, WindowOfFourWithoutAcknowledgements) {
    auto phone = logged_in();
    auto stream = request(phone);
    ASSERT_TRUE(stream);
    const auto admitted = [&] {
        int n = 0;
        for (int i = 0; i < 10; ++i) {
            n += stream->gate->admit();
        }
        return n;
    };
    EXPECT_EQ(admitted(), 4);
    for (int i = 0; i < 4; ++i) {
        stream->sink(fake_frame(i == 0));
    }
    ASSERT_TRUE(phone.next_of<wire::host::StreamFormat>());
    for (std::uint32_t seq = 1; seq <= 4; ++seq) {
        const auto frame = phone.next_of<wire::host::VideoFrame>();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->seq, seq);
    }
    EXPECT_EQ(admitted(), 0);
    phone.send({wire::client::FrameAck{2}});
    phone.send({wire::client::FrameAck{1}});  // older: changes nothing
    ASSERT_TRUE(phone.sync());
    EXPECT_EQ(stream->gate->in_flight(), 2u);
    phone.send({wire::client::FrameAck{4}});
    ASSERT_TRUE(phone.sync());
    EXPECT_EQ(admitted(), 4);
}

TEST_F(StreamHarness, FullOutboundQueueDropsAndAsksForAKeyframe) {
    auto phone = logged_in(1, 3);
    auto stream = request(phone);
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->keyframe_requests, 1);  // at the start
    // StreamFormat and frames 1 and 2 fill the queue of 3; frame 3 is dropped and a keyframe
    // asked for.
    emit(*stream, true);
    emit(*stream, false);
    emit(*stream, false);
    ASSERT_TRUE(screen->wait_keyframe_requests(2));
    ASSERT_TRUE(phone.next_of<wire::host::StreamFormat>());
    EXPECT_EQ(phone.next_of<wire::host::VideoFrame>()->seq, 1u);
    EXPECT_EQ(phone.next_of<wire::host::VideoFrame>()->seq, 2u);
    phone.send({wire::client::FrameAck{2}});
    ASSERT_TRUE(phone.sync());
    EXPECT_TRUE(emit(*stream, false));  // discarded: a keyframe must come first
    EXPECT_TRUE(emit(*stream, true));
    const auto next = phone.next_of<wire::host::VideoFrame>();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->seq, 4u);  // number 3 was used by the dropped frame
    EXPECT_TRUE(next->keyframe);
    EXPECT_EQ(stream->keyframe_requests, 2);
    EXPECT_FALSE(phone.next_of<wire::host::StreamFormat>(50ms).has_value());  // format unchanged
}

TEST_F(StreamHarness, RetargetSendsANewFormat) {
    fakes.displays->set({Display{1, "A", Rect{0, 0, 1920, 1080}, 1920, 1080, true},
                         Display{2, "B", Rect{1920, 0, 1280, 720}, 1280, 720, false}});
    auto phone = logged_in();
    auto stream = request(phone);
    ASSERT_TRUE(stream);
    emit(*stream, true);
    ASSERT_TRUE(phone.next_of<wire::host::StreamFormat>());
    ASSERT_TRUE(phone.next_of<wire::host::VideoFrame>());

    // Following the pointer across the right edge moves the stream to the second display.
    phone.send({wire::client::FollowPointer{true}});
    phone.send({wire::client::PointerAbsolute{1.0f, 0.5f}});
    phone.send({wire::client::PointerRelative{0.01f, 0.0f}});
    ASSERT_TRUE(phone.sync());
    ASSERT_EQ(stream->retargets().size(), 1u);
    EXPECT_EQ(stream->retargets()[0].display_id, 2u);
    EXPECT_EQ(service->status().latest().first.controller->stream, (StreamInfo{1280, 720, 30}));
    emit(*stream, false);  // a retarget waits for a keyframe
    emit(*stream, true);   // same parameter sets and size: still a new format
    const auto format = phone.next_of<wire::host::StreamFormat>();
    ASSERT_TRUE(format);
    EXPECT_EQ(format->display_id, 2u);
    const auto frame = phone.next_of<wire::host::VideoFrame>();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->seq, 2u);
    EXPECT_TRUE(frame->keyframe);
    EXPECT_EQ(fakes.screen->streams().size(), 1u);
}

TEST_F(StreamHarness, PointerStopsAtTheEdgeWithoutFollowing) {
    fakes.displays->set({Display{1, "A", Rect{0, 0, 1920, 1080}, 1920, 1080, true},
                         Display{2, "B", Rect{1920, 0, 1280, 720}, 1280, 720, false}});
    auto phone = logged_in();
    auto stream = request(phone);
    phone.send({wire::client::PointerAbsolute{1.0f, 0.5f}});
    phone.send({wire::client::PointerRelative{0.01f, 0.0f}});
    ASSERT_TRUE(phone.sync());
    EXPECT_TRUE(stream->retargets().empty());
    EXPECT_EQ(std::get<input::MoveTo>(fakes.input->events().back()), (input::MoveTo{1919, 540}));
}

TEST_F(StreamHarness, RefusedRetargetRestartsAndIgnoresTheOldPipeline) {
    fakes.screen->refuse_retargets("this pipeline cannot be retargeted");
    auto phone = logged_in();
    auto first = request(phone);
    ASSERT_TRUE(first);
    emit(*first, true);
    ASSERT_TRUE(phone.next_of<wire::host::StreamFormat>());
    ASSERT_EQ(phone.next_of<wire::host::VideoFrame>()->seq, 1u);
    auto second = request(phone, {0, 320, 240, 0, 0, wire::Codec::H264});
    ASSERT_TRUE(second);
    ASSERT_NE(first, second);
    EXPECT_TRUE(first->released);
    EXPECT_TRUE(first->gate->closed());
    EXPECT_FALSE(first->gate->admit());
    // The unacknowledged frame of the old pipeline counts against the new window.
    EXPECT_EQ(second->gate->in_flight(), 1u);
    first->sink(fake_frame(true, 1920, 1080));  // late: ignored
    emit(*second, true, 320);
    const auto format = phone.next_of<wire::host::StreamFormat>();
    ASSERT_TRUE(format);
    EXPECT_EQ(format->width, 320);
    EXPECT_EQ(phone.next_of<wire::host::VideoFrame>()->seq, 2u);
}

TEST_F(StreamHarness, StoppedPipelineLeavesANoticeAndNoStream) {
    auto phone = logged_in();
    auto stream = request(phone);
    ASSERT_TRUE(stream);
    stream->sink(pipeline::Stopped{"the display went away"});
    const auto status =
        status_when([](const HostStatus& s) { return s.notice == "the display went away"; });
    EXPECT_EQ(status.notice, "the display went away");
    ASSERT_TRUE(status.controller);
    EXPECT_FALSE(status.controller->stream.has_value());
    EXPECT_TRUE(stream->released);

    // The phone still wants a stream: a new request starts a fresh pipeline and clears the notice.
    auto again = request(phone);
    ASSERT_NE(again, stream);
    EXPECT_EQ(service->status().latest().first.notice, std::nullopt);
}

TEST_F(StreamHarness, FailedStartReportsPermissions) {
    fakes.screen->fail_starts("capture is not permitted");
    fakes.permissions->set(2);
    auto phone = logged_in();
    phone.send({StreamRequest{}});
    const auto update = phone.next_of<wire::host::Permissions>();
    ASSERT_TRUE(update);
    EXPECT_EQ(update->flags, wire::PermissionSet{2});
    const auto status = service->status().latest().first;
    EXPECT_EQ(status.notice, "capture is not permitted");
    EXPECT_FALSE(status.controller->stream.has_value());
}

TEST_F(StreamHarness, NoDisplayNoStream) {
    fakes.displays->set({});
    auto phone = logged_in();
    EXPECT_FALSE(request(phone));
    EXPECT_EQ(service->status().latest().first.notice, "No display is available to stream.");
}

TEST_F(StreamHarness, UnknownDisplayStreamsTheMainOne) {
    fakes.displays->set({Display{4, "Side", Rect{-1280, 0, 1280, 720}, 1280, 720, false},
                         Display{7, "Main", Rect{0, 0, 1920, 1080}, 1920, 1080, true}});
    auto phone = logged_in();
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {{0, 7}, {99, 7}, {4, 4}};
    for (const auto& [asked, streamed] : cases) {
        auto stream = request(phone, {asked, 0, 0, 0, 0, wire::Codec::H264});
        ASSERT_TRUE(stream);
        const auto plan = stream->retargets().empty() ? stream->plan : stream->retargets().back();
        EXPECT_EQ(plan.display_id, streamed) << asked;
    }
}

TEST_F(StreamHarness, PointerReportsFollowTheStreamedDisplay) {
    auto phone = logged_in();
    ASSERT_TRUE(request(phone));
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

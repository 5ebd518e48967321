// The recording fakes stand in for the platform in every part's tests; these check the few
// behaviours those tests lean on.

#include <gtest/gtest.h>

#include <thread>

#include "core/testing/fakes.hpp"

namespace mirravale::core::testing {
namespace {

TEST(FakePipeline, StartsFailuresAndRefusalsAsScripted) {
    FakePipeline screen;
    const StreamPlan plan{1, 1280, 720, 2764, 30};

    screen.fail_starts("capture is not permitted");
    auto refused = screen.start(plan, std::make_shared<FrameGate>(4), [](PipelineEvent) {});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "capture is not permitted");
    EXPECT_TRUE(screen.streams().empty());

    screen.fail_starts(std::nullopt);
    auto started = screen.start(plan, std::make_shared<FrameGate>(4), [](PipelineEvent) {});
    ASSERT_TRUE(started);
    const auto stream = screen.latest();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->plan, plan);

    auto handle = std::move(*started);
    screen.refuse_retargets("cannot switch");
    const auto refusal = handle->retarget({2, 640, 480, 921, 30});
    ASSERT_FALSE(refusal);
    EXPECT_EQ(refusal.error(), "cannot switch");
    screen.refuse_retargets(std::nullopt);
    EXPECT_TRUE(handle->retarget({2, 640, 480, 921, 30}));
    EXPECT_EQ(stream->retargets(), (std::vector<StreamPlan>{{2, 640, 480, 921, 30}}));

    EXPECT_FALSE(stream->released);
    handle.reset();
    EXPECT_TRUE(stream->released);
}

TEST(FakePipeline, EmitsThroughTheSinkOnlyWhatTheGateAdmits) {
    FakePipeline screen;
    std::vector<PipelineEvent> seen;
    auto started = screen.start({}, std::make_shared<FrameGate>(2),
                                [&](PipelineEvent e) { seen.push_back(std::move(e)); });
    ASSERT_TRUE(started);
    const auto stream = screen.latest();
    EXPECT_TRUE(stream->admit_and_emit(fake_frame(true)));
    EXPECT_TRUE(stream->admit_and_emit(fake_frame(false)));
    EXPECT_FALSE(stream->admit_and_emit(fake_frame(false)));
    stream->deliver(pipeline::Stopped{"gone"});
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_FALSE(std::get<pipeline::Frame>(seen[0]).parameter_sets.empty());
    EXPECT_TRUE(std::get<pipeline::Frame>(seen[1]).parameter_sets.empty());
    EXPECT_EQ(std::get<pipeline::Stopped>(seen[2]).text, "gone");
}

TEST(FakePipeline, KeyframeRequestsFromAnotherThreadCanBeAwaited) {
    FakePipeline screen;
    auto first = screen.start({}, std::make_shared<FrameGate>(4), [](PipelineEvent) {});
    auto second = screen.start({}, std::make_shared<FrameGate>(4), [](PipelineEvent) {});
    ASSERT_TRUE(first && second);
    std::thread session([&] {
        (*first)->request_keyframe();
        (*second)->request_keyframe();
        (*second)->request_keyframe();
    });
    EXPECT_TRUE(screen.wait_keyframe_requests(3));
    session.join();
    EXPECT_EQ(screen.streams()[0]->keyframe_requests, 1);
    EXPECT_EQ(screen.streams()[1]->keyframe_requests, 2);
    EXPECT_TRUE(screen.wait_streams(2));
}

TEST(FakeInjector, RecordsEveryThreadsEventsAndFollowsMoves) {
    FakeInjector injector;
    EXPECT_EQ(injector.cursor_position(), std::nullopt);
    injector.set_cursor(Point{5, 6});
    EXPECT_EQ(injector.cursor_position(), (Point{5, 6}));

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&injector, t] {
            for (int i = 0; i < 100; ++i) {
                injector.inject(input::Key{static_cast<std::uint16_t>(t), i % 2 == 0, {}});
            }
        });
    }
    EXPECT_TRUE(injector.wait_events(400));
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(injector.events_of<input::Key>().size(), 400u);

    injector.inject(input::MoveTo{1511, 981});
    EXPECT_EQ(injector.cursor_position(), (Point{1511, 981}));
    EXPECT_EQ(injector.events_of<input::MoveTo>(), (std::vector<input::MoveTo>{{1511, 981}}));
    injector.release_all();
    EXPECT_EQ(injector.releases(), 1);
}

TEST(FakePower, CountsLiveGuards) {
    FakePower power;
    auto a = power.keep_awake();
    {
        auto b = power.keep_awake();
        EXPECT_EQ(power.live_guards(), 2);
    }
    EXPECT_EQ(power.live_guards(), 1);
    a.reset();
    EXPECT_EQ(power.live_guards(), 0);
}

TEST(MemoryTrustStore, FailingSaveKeepsThePreviousList) {
    MemoryTrustStore store;
    TrustedDevice device;
    device.name = "phone";
    ASSERT_TRUE(store.save({device}));
    store.fail_saves("disk full");
    const auto refused = store.save({});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "disk full");
    EXPECT_EQ(store.saves(), 2);
    const auto loaded = store.load();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->size(), 1u);
    store.fail_load("unreadable");
    EXPECT_FALSE(store.load());
}

}  // namespace
}  // namespace mirravale::core::testing

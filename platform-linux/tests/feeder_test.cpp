#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

#include "platform-linux/feeder.hpp"
#include "platform-linux/pattern.hpp"
#include "platform-linux/thread_name.hpp"

namespace mirravale::platform {
namespace {

using namespace std::chrono_literals;
using Instant = std::chrono::steady_clock::time_point;

// Records what the encoder delivers and plays the session's part for the gate: each frame is
// queued with the next sequence number, each drop gives its unit back.
struct Session {
    std::shared_ptr<core::FrameGate> gate;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<core::PipelineEvent> events;
    std::uint32_t seq = 0;

    explicit Session(std::uint32_t window, std::uint32_t sent = 0)
        : gate(std::make_shared<core::FrameGate>(window, sent)), seq(sent) {}

    core::EventSink sink() {
        return [this](core::PipelineEvent event) {
            std::lock_guard lock(mutex);
            if (std::holds_alternative<core::pipeline::Frame>(event)) {
                gate->frame_queued(++seq);
            } else {
                gate->release();
            }
            events.push_back(std::move(event));
            changed.notify_all();
        };
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return events.size();
    }
    core::pipeline::Frame frame(std::size_t i) {
        std::lock_guard lock(mutex);
        return std::get<core::pipeline::Frame>(events.at(i));
    }
    bool wait_for(std::size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return events.size() >= n; });
    }
};

struct Clock {
    std::shared_ptr<Instant> now = std::make_shared<Instant>(std::chrono::seconds(1000));
    MonotonicClock fn() const {
        return [now = now] { return *now; };
    }
    void advance(std::chrono::milliseconds by) { *now += by; }
};

std::shared_ptr<H264Encoder> encoder(Session& session, std::uint32_t width = 64,
                                     std::uint32_t height = 48) {
    auto made = H264Encoder::create(core::StreamPlan{1, width, height, 1000, 30}, session.sink());
    EXPECT_TRUE(made) << made.error();
    return *made;
}

PictureRef picture(std::uint32_t width = 64, std::uint32_t height = 48, std::uint64_t n = 0) {
    auto made = std::make_shared<Picture>(width, height);
    paint_pattern(*made, static_cast<double>(n) / 30.0, n);
    return made;
}

TEST(Feeder, HeldBackPictureIsEncodedAfterTheAcknowledgement) {
    Session session(1, 1);  // one frame out, not acknowledged
    Clock clock;
    Feeder feeder(encoder(session), session.gate, session.sink(), clock.fn());
    feeder.push(picture(), 5);
    feeder.refresh();
    EXPECT_EQ(session.count(), 0U);

    session.gate->acknowledge(1);
    clock.advance(30ms);
    feeder.refresh();
    ASSERT_EQ(session.count(), 1U);
    EXPECT_EQ(session.frame(0).pts_us, monotonic_us(*clock.now));
    EXPECT_TRUE(session.frame(0).keyframe);
    feeder.refresh();  // nothing held back any more, screen not idle yet
    EXPECT_EQ(session.count(), 1U);
}

TEST(Feeder, StillScreenIsResubmittedOnceAfterTheIdleThreshold) {
    Session session(4);
    Clock clock;
    Feeder feeder(encoder(session), session.gate, session.sink(), clock.fn());
    feeder.push(picture(), 1);
    ASSERT_EQ(session.count(), 1U);

    const std::pair<std::chrono::milliseconds, std::size_t> steps[] = {
        {399ms, 1}, {1ms, 2}, {30ms, 2}, {2000ms, 2}};
    for (const auto& [by, expected] : steps) {
        clock.advance(by);
        feeder.refresh();
        EXPECT_EQ(session.count(), expected) << by.count();
    }
    feeder.push(picture(64, 48, 1), 2);
    clock.advance(400ms);
    feeder.refresh();
    feeder.refresh();
    EXPECT_EQ(session.count(), 4U);
}

TEST(Feeder, KeyframeRequestOnStillScreenWaitsForTheGrace) {
    Session session(4);
    Clock clock;
    Feeder feeder(encoder(session), session.gate, session.sink(), clock.fn());
    feeder.push(picture(), 1);
    clock.advance(400ms);
    feeder.refresh();  // the one idle resubmission
    ASSERT_EQ(session.count(), 2U);

    feeder.request_keyframe();
    clock.advance(40ms);
    feeder.request_keyframe();  // keeps the first instant
    clock.advance(19ms);
    feeder.refresh();
    EXPECT_EQ(session.count(), 2U);
    clock.advance(1ms);
    feeder.refresh();
    ASSERT_EQ(session.count(), 3U);
    EXPECT_TRUE(session.frame(2).keyframe);
    EXPECT_EQ(session.frame(2).parameter_sets.size(), 2U);
    clock.advance(100ms);
    feeder.refresh();  // the request was served
    EXPECT_EQ(session.count(), 3U);
}

TEST(Feeder, InstalledEncoderTakesOnlyPicturesOfItsSize) {
    Session session(4);
    Clock clock;
    Feeder feeder(encoder(session), session.gate, session.sink(), clock.fn());
    feeder.push(picture(), 1);
    feeder.push(picture(64, 48, 1), 2);
    ASSERT_EQ(session.count(), 2U);

    feeder.install(encoder(session, 96, 64));
    feeder.push(picture(), 3);
    clock.advance(500ms);
    feeder.refresh();  // nothing kept from the old size
    EXPECT_EQ(session.count(), 2U);

    feeder.push(picture(96, 64), 4);
    ASSERT_EQ(session.count(), 3U);
    const auto frame = session.frame(2);
    EXPECT_TRUE(frame.keyframe);
    EXPECT_EQ(frame.width, 96U);
    EXPECT_EQ(frame.height, 64U);
    EXPECT_GT(frame.pts_us, session.frame(1).pts_us);
}

TEST(Feeder, ClosedGateEncodesNothing) {
    Session session(4);
    Clock clock;
    Feeder feeder(encoder(session), session.gate, session.sink(), clock.fn());
    session.gate->close();
    feeder.push(picture(), 1);
    feeder.request_keyframe();
    clock.advance(1000ms);
    feeder.refresh();
    feeder.push(picture(64, 48, 1), 2);
    feeder.refresh();
    EXPECT_EQ(session.count(), 0U);
    EXPECT_EQ(session.gate->pending(), 0U);
}

TEST(Refresher, ThreadResubmitsAHeldBackPictureOnceTheGateOpens) {
    Session session(1, 1);
    auto feeder = std::make_shared<Feeder>(encoder(session), session.gate, session.sink());
    auto refresher = Refresher::start(feeder);
    feeder->push(picture(), monotonic_us(std::chrono::steady_clock::now()));
    EXPECT_EQ(session.count(), 0U);
    session.gate->acknowledge(1);
    EXPECT_TRUE(session.wait_for(1));
    refresher.reset();
    EXPECT_EQ(feeder.use_count(), 1);
    EXPECT_TRUE(session.frame(0).keyframe);
}

TEST(ThreadName, LongNamesKeepTheirFirstFifteenBytes) {
    for (const std::string name : {"mirravale-refresh", "short", "exactly15bytes!"}) {
        std::string seen;
        std::thread([&] {
            set_thread_name(name);
            char buffer[17] = {};
            prctl(PR_GET_NAME, buffer, 0, 0, 0);
            seen = buffer;
        }).join();
        EXPECT_EQ(seen, name.substr(0, 15));
    }
}

}  // namespace
}  // namespace mirravale::platform

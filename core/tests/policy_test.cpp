#include <gtest/gtest.h>

#include "core/flow.hpp"
#include "core/geometry.hpp"
#include "core/policy.hpp"

namespace mirravale::core {
namespace {

TEST(PlanStream, Table) {
    struct Case {
        std::uint32_t pw, ph;
        wire::client::StreamRequest request;
        StreamPlan expected;
    };
    using R = wire::client::StreamRequest;
    const Case cases[] = {
        {1920, 1080, R{}, {7, 1920, 1080, 6220, 30}},
        {5120, 2880, R{0, 0, 0, 60, 0}, {7, 4096, 2304, 50000, 60}},
        {4096, 2400, R{}, {7, 3934, 2304, 27191, 30}},
        {1920, 1080, R{0, 100, 100, 0, 0}, {7, 100, 56, 500, 30}},
        {1, 1, R{}, {7, 2, 2, 500, 30}},
        {0, 0, R{}, {7, 2, 2, 500, 30}},
        {1920, 1080, R{0, 0, 0, 120, 0}, {7, 1920, 1080, 12441, 60}},
        {1920, 1080, R{0, 0, 0, 0, 100000}, {7, 1920, 1080, 50000, 30}},
        {1920, 1080, R{0, 0, 0, 0, 7000}, {7, 1920, 1080, 7000, 30}},
        {1280, 720, R{0, 9999, 0, 0, 0}, {7, 1280, 720, 2764, 30}},  // never enlarged
    };
    for (const auto& c : cases) {
        Display display;
        display.id = 7;
        display.pixel_width = c.pw;
        display.pixel_height = c.ph;
        EXPECT_EQ(plan_stream(c.request, display, StreamLimits{}), c.expected)
            << c.pw << "x" << c.ph;
    }
}

TEST(Rect, ClampKeepsInsideTheLastPixel) {
    const Rect r{0, 0, 1512, 982};
    EXPECT_EQ(r.clamp({1512, 982}), (Point{1511, 981}));
    EXPECT_EQ(r.clamp({-5, 10}), (Point{0, 10}));
    EXPECT_EQ((Rect{10, 10, 0, 0}.clamp({50, 50})), (Point{10, 10}));
    EXPECT_TRUE(r.contains({0, 0}));
    EXPECT_FALSE(r.contains({1512, 0}));
}

TEST(FrameGate, WindowOfFour) {
    FrameGate gate(FRAMES_IN_FLIGHT);
    int admitted = 0;
    for (int i = 0; i < 10; ++i)
        admitted += gate.admit();
    EXPECT_EQ(admitted, 4);
    for (std::uint32_t seq = 1; seq <= 4; ++seq)
        gate.frame_queued(seq);
    EXPECT_FALSE(gate.admit());  // sent but unacknowledged still count
    gate.acknowledge(4);
    admitted = 0;
    for (int i = 0; i < 10; ++i)
        admitted += gate.admit();
    EXPECT_EQ(admitted, 4);
    gate.acknowledge(2);  // older acknowledgement changes nothing
    EXPECT_EQ(gate.acked(), 4u);
    for (int i = 0; i < 6; ++i)
        gate.release();  // never below zero
    EXPECT_EQ(gate.pending(), 0u);
    gate.close();
    EXPECT_FALSE(gate.admit());
}

TEST(FrameGate, SuccessorCountsTheOldUnackedFrames) {
    FrameGate old(4);
    old.acknowledge(10);
    const auto next = FrameGate::successor(old, 12);
    EXPECT_EQ(next->in_flight(), 2u);
    EXPECT_TRUE(next->admit());
    EXPECT_TRUE(next->admit());
    EXPECT_FALSE(next->admit());
    EXPECT_EQ(FrameGate(0).window(), 1u);
}

}  // namespace
}  // namespace mirravale::core

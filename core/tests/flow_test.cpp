#include <gtest/gtest.h>

#include "core/flow.hpp"

namespace mirravale::core {
namespace {

// How many of `tries` pictures the gate lets through now.
int admit_up_to(FrameGate& gate, int tries = 10) {
    int admitted = 0;
    for (int i = 0; i < tries; ++i) {
        admitted += gate.admit() ? 1 : 0;
    }
    return admitted;
}

// The session's side: each admitted picture became a frame that was queued to the phone.
void queue_frames(FrameGate& gate, std::uint32_t first, std::uint32_t last) {
    for (auto seq = first; seq <= last; ++seq) {
        gate.frame_queued(seq);
    }
}

TEST(FrameGate, PhoneThatNeverAcknowledgesGetsFourFrames) {
    FrameGate gate(FRAMES_IN_FLIGHT);
    EXPECT_EQ(admit_up_to(gate), 4);
    queue_frames(gate, 1, 4);
    EXPECT_EQ(gate.pending(), 0u);
    EXPECT_EQ(gate.in_flight(), 4u);  // sent but unacknowledged still count
    EXPECT_EQ(admit_up_to(gate), 0);
}

TEST(FrameGate, AcknowledgementsOpenTheWindow) {
    struct Case {
        std::uint32_t ack;
        int admitted;
    };
    // After frames 1..4 were queued.
    const Case cases[] = {{4, 4}, {2, 2}, {1, 1}, {0, 0}, {9, 4}};
    for (const auto& c : cases) {
        FrameGate gate(4);
        admit_up_to(gate);
        queue_frames(gate, 1, 4);
        gate.acknowledge(c.ack);
        EXPECT_EQ(admit_up_to(gate), c.admitted) << "ack " << c.ack;
    }
}

TEST(FrameGate, OlderAcknowledgementChangesNothing) {
    FrameGate gate(4);
    admit_up_to(gate);
    queue_frames(gate, 1, 4);
    gate.acknowledge(3);
    gate.acknowledge(1);
    EXPECT_EQ(gate.acked(), 3u);
    EXPECT_EQ(admit_up_to(gate), 3);
}

TEST(FrameGate, ReleaseFreesAPlaceAndNeverGoesBelowZero) {
    FrameGate gate(4);
    EXPECT_EQ(admit_up_to(gate), 4);
    gate.release();  // a picture that produced no frame
    EXPECT_EQ(admit_up_to(gate), 1);
    for (int i = 0; i < 10; ++i) {
        gate.release();
    }
    EXPECT_EQ(gate.pending(), 0u);
    EXPECT_EQ(admit_up_to(gate), 4);
}

TEST(FrameGate, GapsInTheNumbersCountUntilAcknowledged) {
    // Frame 2 was dropped before it reached the phone: its number is never reused.
    FrameGate gate(4);
    admit_up_to(gate, 3);
    gate.frame_queued(1);
    gate.release();
    gate.frame_queued(3);
    EXPECT_EQ(gate.in_flight(), 3u);
    gate.acknowledge(3);
    EXPECT_EQ(admit_up_to(gate), 4);
}

TEST(FrameGate, ClosedGateRefusesEvenWithRoom) {
    FrameGate gate(4);
    gate.close();
    EXPECT_TRUE(gate.closed());
    EXPECT_EQ(admit_up_to(gate), 0);
    gate.acknowledge(100);
    EXPECT_EQ(admit_up_to(gate), 0);
}

TEST(FrameGate, WindowIsAtLeastOne) {
    FrameGate gate(0);
    EXPECT_EQ(gate.window(), 1u);
    EXPECT_EQ(admit_up_to(gate), 1);
}

TEST(FrameGate, SuccessorCountsTheOldPipelinesUnacknowledgedFrames) {
    FrameGate old(4);
    admit_up_to(old);
    queue_frames(old, 9, 12);  // the session's counter stands at 12
    old.acknowledge(10);
    old.admit();  // still pending at the switch: that picture's event will be ignored

    const auto next = FrameGate::successor(old, 12);
    EXPECT_TRUE(old.closed());
    EXPECT_FALSE(old.admit());
    EXPECT_EQ(next->window(), 4u);
    EXPECT_EQ(next->pending(), 0u);
    EXPECT_EQ(next->sent(), 12u);
    EXPECT_EQ(next->acked(), 10u);
    EXPECT_EQ(admit_up_to(*next), 2);

    next->acknowledge(12);
    EXPECT_EQ(admit_up_to(*next), 2);
}

TEST(FrameGate, SuccessorOfAFullyAcknowledgedGateIsEmpty) {
    FrameGate old(2);
    admit_up_to(old);
    queue_frames(old, 1, 2);
    old.acknowledge(2);
    const auto next = FrameGate::successor(old, 2);
    EXPECT_EQ(next->in_flight(), 0u);
    EXPECT_EQ(admit_up_to(*next), 2);
}

}  // namespace
}  // namespace mirravale::core

// The program streaming its test picture to the phone tool, the video read back by ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "host/tests/program_fixture.hpp"

namespace {

using namespace mirravale::host::testing;

// What the phone tool printed, one event per line.
struct Event {
    std::string kind;  // "format", "frame", "sent", "keyframe-answer", ...
    std::string text;  // the whole line
    unsigned seq = 0;  // a frame's or an answer's number
    bool key = false;
};

std::vector<Event> events(const std::string& output) {
    std::vector<Event> result;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        Event event;
        std::istringstream words(line);
        words >> event.kind;
        event.text = line;
        if (event.kind == "frame" || event.kind == "keyframe-answer") {
            std::string key;
            words >> event.seq >> key;
            event.key = key == "key";
        }
        result.push_back(event);
    }
    return result;
}

std::vector<Event> frames_of(const std::vector<Event>& all) {
    std::vector<Event> frames;
    for (const auto& e : all) {
        if (e.kind == "frame")
            frames.push_back(e);
    }
    return frames;
}

// One paired program for the whole suite; each test is a new visit of the phone.
class StreamProgram : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        host = std::make_unique<Program>();
        const auto paired = host->pair();
        ASSERT_EQ(paired.status, 0) << paired.output << host->output();
    }
    static void TearDownTestSuite() { host.reset(); }

    static PhoneRun stream(std::vector<std::string> options) {
        options.insert(options.begin(), "stream");
        return host->phone(options);
    }

    static std::unique_ptr<Program> host;
};

std::unique_ptr<Program> StreamProgram::host;

TEST_F(StreamProgram, FormatThenNumberedFramesFromAKeyframeThatDecodeAtThePlannedSize) {
    const auto video = host->dir() / "first.h264";
    const auto run = stream({"--size", "1280x720", "--frames", "20", "--out", video.string()});
    ASSERT_EQ(run.status, 0) << run.output;
    const auto all = events(run.output);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front().text, "format 1280x720 display 1 fps 30");
    const auto frames = frames_of(all);
    ASSERT_EQ(frames.size(), 20u);
    EXPECT_TRUE(frames.front().key);
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].seq, i + 1);

    const auto decoded = probe_video(video);
    EXPECT_EQ(decoded.complaints, "");
    EXPECT_EQ(decoded.profile, "Constrained Baseline");
    EXPECT_EQ(decoded.sizes, (std::vector<std::pair<int, int>>(20, {1280, 720})));
}

TEST_F(StreamProgram, WithoutAcknowledgementsAtMostFourFramesCome) {
    // Two seconds are sixty pictures of the pattern; the window lets four through.
    const auto run = stream({"--no-ack", "--seconds", "2"});
    ASSERT_EQ(run.status, 0) << run.output;
    const auto frames = frames_of(events(run.output));
    EXPECT_GE(frames.size(), 1u) << run.output;
    EXPECT_LE(frames.size(), 4u) << run.output;
}

TEST_F(StreamProgram, AKeyframeRequestIsAnsweredByAKeyframe) {
    const auto run = stream({"--size", "640x360", "--frames", "24", "--keyframe-after", "8"});
    ASSERT_EQ(run.status, 0) << run.output;
    const auto all = events(run.output);
    const auto frames = frames_of(all);
    ASSERT_EQ(frames.size(), 24u) << run.output;
    // Only the first frame and the answer are keyframes: the next forced one is 10 s away.
    std::vector<unsigned> keys;
    for (const auto& f : frames) {
        if (f.key)
            keys.push_back(f.seq);
    }
    ASSERT_EQ(keys.size(), 2u) << run.output;
    EXPECT_EQ(keys[0], 1u);
    // At most the window's four frames (and one the soft limit lets slip) were on their way.
    EXPECT_GT(keys[1], 8u);
    EXPECT_LE(keys[1], 8u + 5u + 1u);
    const auto answer = std::find_if(all.begin(), all.end(),
                                     [](const Event& e) { return e.kind == "keyframe-answer"; });
    ASSERT_NE(answer, all.end()) << run.output;
    EXPECT_EQ(answer->seq, keys[1]);
}

TEST_F(StreamProgram, ARequestOfAnotherSizeRestartsWithANewFormat) {
    const auto video = host->dir() / "resized.h264";
    const auto run = stream({"--size", "1280x720", "--frames", "30", "--resize-after", "10",
                             "640x360", "--out", video.string()});
    ASSERT_EQ(run.status, 0) << run.output;
    const auto all = events(run.output);
    std::vector<std::string> formats;
    for (const auto& e : all) {
        if (e.kind == "format")
            formats.push_back(e.text);
    }
    EXPECT_EQ(formats, (std::vector<std::string>{"format 1280x720 display 1 fps 30",
                                                 "format 640x360 display 1 fps 30"}));
    // The frame after the new format is a keyframe, and numbering goes on without a restart.
    std::size_t before = 0;
    bool after_format = false, first_after = true;
    unsigned expected_seq = 1;
    for (const auto& e : all) {
        if (e.text == formats.back()) {
            after_format = true;
        } else if (e.kind == "frame") {
            EXPECT_EQ(e.seq, expected_seq++);
            if (!after_format) {
                ++before;
            } else if (first_after) {
                EXPECT_TRUE(e.key) << e.text;
                first_after = false;
            }
        }
    }
    EXPECT_GE(before, 10u);
    EXPECT_FALSE(first_after) << "no frame after the new format";

    // ffprobe follows the change: the first frames at the old size, the rest at the new one.
    const auto decoded = probe_video(video);
    EXPECT_EQ(decoded.complaints, "");
    std::vector<std::pair<int, int>> expected(before, {1280, 720});
    expected.resize(30, {640, 360});
    EXPECT_EQ(decoded.sizes, expected);
}

}  // namespace

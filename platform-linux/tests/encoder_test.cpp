#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform-linux/encoder.hpp"
#include "platform-linux/pattern.hpp"

namespace mirravale::platform {
namespace {

struct Recorder {
    std::vector<core::PipelineEvent> events;
    core::EventSink sink() {
        return [this](core::PipelineEvent event) { events.push_back(std::move(event)); };
    }
    const core::pipeline::Frame& frame(std::size_t i) const {
        return std::get<core::pipeline::Frame>(events.at(i));
    }
};

core::StreamPlan plan(std::uint32_t width, std::uint32_t height, std::uint8_t fps = 30,
                      std::uint32_t kbps = 2000) {
    return core::StreamPlan{1, width, height, kbps, fps};
}

std::shared_ptr<H264Encoder> make(const core::StreamPlan& p, Recorder& recorder) {
    auto encoder = H264Encoder::create(p, recorder.sink());
    EXPECT_TRUE(encoder) << encoder.error();
    return encoder ? *encoder : nullptr;
}

// The 4-byte lengths become start codes, the form a standalone decoder reads from a file.
void append_annex_b(std::string& out, const std::vector<std::uint8_t>& nal) {
    out.append("\0\0\0\1", 4);
    out.append(nal.begin(), nal.end());
}

std::vector<std::vector<std::uint8_t>> split_units(const std::vector<std::uint8_t>& data) {
    std::vector<std::vector<std::uint8_t>> units;
    std::size_t at = 0;
    while (at + 4 <= data.size()) {
        const std::size_t length = (std::size_t{data[at]} << 24) |
                                   (std::size_t{data[at + 1]} << 16) |
                                   (std::size_t{data[at + 2]} << 8) | data[at + 3];
        EXPECT_LE(at + 4 + length, data.size());
        units.emplace_back(data.begin() + at + 4, data.begin() + at + 4 + length);
        at += 4 + length;
    }
    EXPECT_EQ(at, data.size());
    return units;
}

std::string run(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        return out;
    std::array<char, 4096> buffer{};
    while (std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe.get()))
        out.append(buffer.data(), n);
    return out;
}

TEST(EncoderSettings, FollowThePlan) {
    struct Case {
        std::uint8_t fps;
        std::uint32_t kbps;
        EncoderSettings expected;
    };
    const Case cases[] = {
        {0, 500, {1, 500, 500, 250, 10, 10'000'000}},
        {30, 8000, {30, 8000, 8000, 4000, 300, 10'000'000}},
        {60, 12000, {60, 12000, 12000, 6000, 600, 10'000'000}},
    };
    for (const Case& c : cases) {
        const EncoderSettings s = encoder_settings(plan(64, 64, c.fps, c.kbps));
        EXPECT_EQ(s.fps, c.expected.fps);
        EXPECT_EQ(s.bitrate_kbps, c.expected.bitrate_kbps);
        EXPECT_EQ(s.vbv_max_kbps, c.expected.vbv_max_kbps);
        EXPECT_EQ(s.vbv_buffer_kbit, c.expected.vbv_buffer_kbit);
        EXPECT_EQ(s.keyint_max, c.expected.keyint_max);
        EXPECT_EQ(s.keyframe_max_us, c.expected.keyframe_max_us);
    }
}

TEST(Encoder, RefusedPlanGivesTheUserText) {
    const std::pair<core::StreamPlan, std::string> cases[] = {
        {plan(0, 0),
         "0\xC3\x97"
         "0"},
        {plan(63, 48),
         "63\xC3\x97"
         "48"},
        {plan(64, 48, 30, 0),
         "64\xC3\x97"
         "48"},
    };
    for (const auto& [p, size] : cases) {
        Recorder recorder;
        auto encoder = H264Encoder::create(p, recorder.sink());
        ASSERT_FALSE(encoder);
        EXPECT_EQ(encoder.error(), "the hardware video encoder refused " + size + " (-1)");
    }
}

TEST(Encoder, TimestampsRiseStrictlyAndEveryPictureGivesOneFrame) {
    Recorder recorder;
    auto encoder = make(plan(64, 48), recorder);
    ASSERT_TRUE(encoder);
    Picture picture(64, 48);
    paint_pattern(picture, 0.0, 0);
    std::uint64_t last = 0;
    const std::uint64_t given[] = {1000, 1000, 500, 5000, 0};
    const std::uint64_t expected[] = {1000, 1001, 1002, 5000, 5001};
    for (std::size_t i = 0; i < std::size(given); ++i) {
        encoder->submit(picture, given[i], last);
        ASSERT_EQ(recorder.events.size(), i + 1) << "no frame of delay";
        EXPECT_EQ(recorder.frame(i).pts_us, expected[i]);
        EXPECT_EQ(last, expected[i]);
        EXPECT_EQ(recorder.frame(i).width, 64U);
        EXPECT_EQ(recorder.frame(i).height, 48U);
    }
    EXPECT_TRUE(recorder.frame(0).keyframe);
    EXPECT_FALSE(recorder.frame(1).keyframe);
}

TEST(Encoder, ParameterSetsOnKeyframesOnly) {
    Recorder recorder;
    auto encoder = make(plan(64, 48), recorder);
    ASSERT_TRUE(encoder);
    Picture picture(64, 48);
    std::uint64_t last = 0;
    for (int i = 0; i < 3; ++i) {
        paint_pattern(picture, i * 0.1, i);
        if (i == 2)
            encoder->force_keyframe();
        encoder->submit(picture, 0, last);
    }
    ASSERT_EQ(recorder.events.size(), 3U);
    for (std::size_t i : {0U, 2U}) {
        const auto& frame = recorder.frame(i);
        EXPECT_TRUE(frame.keyframe);
        ASSERT_EQ(frame.parameter_sets.size(), 2U);
        EXPECT_EQ(frame.parameter_sets[0].at(0) & 0x1F, 7);  // SPS
        EXPECT_EQ(frame.parameter_sets[1].at(0) & 0x1F, 8);  // PPS
        bool idr = false;
        for (const auto& unit : split_units(*frame.data))
            idr |= (unit.at(0) & 0x1F) == 5;
        EXPECT_TRUE(idr);
    }
    EXPECT_FALSE(recorder.frame(1).keyframe);
    EXPECT_TRUE(recorder.frame(1).parameter_sets.empty());
    for (const auto& unit : split_units(*recorder.frame(1).data))
        EXPECT_NE(unit.at(0) & 0x1F, 5);
}

TEST(Encoder, StillScreenGetsAKeyframeEveryTenSeconds) {
    Recorder recorder;
    auto encoder = make(plan(64, 48, 60), recorder);
    ASSERT_TRUE(encoder);
    Picture picture(64, 48);
    paint_pattern(picture, 0.0, 0);
    std::uint64_t last = 0;
    for (std::uint64_t t : {1ULL, 4'000'000ULL, 10'000'000ULL, 10'000'001ULL, 12'000'000ULL}) {
        encoder->submit(picture, t, last);
    }
    ASSERT_EQ(recorder.events.size(), 5U);
    const bool expected[] = {true, false, false, true, false};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(recorder.frame(i).keyframe, expected[i]) << i;
}

TEST(Encoder, StandaloneDecoderReadsTheStream) {
    constexpr int FRAMES = 40;
    constexpr int FORCED = 17;
    Recorder recorder;
    auto encoder = make(plan(320, 240, 30, 1500), recorder);
    ASSERT_TRUE(encoder);
    std::uint64_t last = 0;
    for (int n = 0; n < FRAMES; ++n) {
        Picture picture(320, 240);
        paint_pattern(picture, n / 30.0, n);
        if (n == FORCED)
            encoder->force_keyframe();
        encoder->submit(picture, n * 33'333ULL, last);
        ASSERT_EQ(recorder.events.size(), static_cast<std::size_t>(n + 1));
    }
    encoder.reset();
    ASSERT_EQ(recorder.events.size(), static_cast<std::size_t>(FRAMES));

    std::string stream;
    for (int n = 0; n < FRAMES; ++n) {
        const auto& frame = recorder.frame(n);
        for (const auto& set : frame.parameter_sets)
            append_annex_b(stream, set);
        for (const auto& unit : split_units(*frame.data))
            append_annex_b(stream, unit);
    }
    const auto path = std::filesystem::temp_directory_path() /
                      ("mirravale-encoder-" + std::to_string(getpid()) + ".h264");
    std::ofstream(path, std::ios::binary)
        .write(stream.data(), static_cast<std::streamsize>(stream.size()));

    const std::string info =
        run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=width,height,nb_read_frames,profile -of default=nw=1 '" +
            path.string() + "'");
    EXPECT_NE(info.find("width=320\n"), std::string::npos) << info;
    EXPECT_NE(info.find("height=240\n"), std::string::npos) << info;
    EXPECT_NE(info.find("nb_read_frames=" + std::to_string(FRAMES) + "\n"), std::string::npos)
        << info;
    EXPECT_NE(info.find("profile=Constrained Baseline\n"), std::string::npos) << info;

    const std::string keys =
        run("ffprobe -v error -select_streams v:0 -show_entries frame=key_frame "
            "-of csv=p=0 '" +
            path.string() + "'");
    std::string expected;
    for (int n = 0; n < FRAMES; ++n)
        expected += (n == 0 || n == FORCED) ? "1\n" : "0\n";
    EXPECT_EQ(keys, expected);
    for (int n = 0; n < FRAMES; ++n) {
        EXPECT_EQ(recorder.frame(n).keyframe, n == 0 || n == FORCED) << n;
    }
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace mirravale::platform

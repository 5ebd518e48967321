// The program on a private two-monitor X server, capturing the screen for the phone tool.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>

#include "host/tests/program_fixture.hpp"
#include "platform-linux/tests/xvfb_fixture.hpp"

// Last: Xlib defines macros (Status, None) that clash with names above.
#include <X11/Xlib.h>

namespace {

using namespace mirravale::host::testing;
using mirravale::platform::testing::Xvfb;
using mirravale::platform::testing::XvfbOptions;

// Two monitors of different sizes, so a stream's size tells which one it shows.
XvfbOptions left_and_smaller_right() {
    XvfbOptions options;
    options.width = 1920 + 1280;
    options.height = 1080;
    options.monitors = {{"left", 0, 0, 1920, 1080, false, true},
                        {"right", 1920, 0, 1280, 720, false, false}};
    return options;
}

struct DisplayLine {
    std::uint32_t id = 0;
    std::string name;
    int width = 0, height = 0;
    bool main = false;
};

std::vector<DisplayLine> displays_of(const std::string& output) {
    std::vector<DisplayLine> displays;
    const std::regex line("^(\\d+) (.*) \\d+x\\d+ pixels (\\d+)x(\\d+)( main)?$");
    std::istringstream lines(output);
    for (std::string text; std::getline(lines, text);) {
        std::smatch m;
        if (std::regex_match(text, m, line)) {
            displays.push_back({static_cast<std::uint32_t>(std::stoul(m[1])), m[2], std::stoi(m[3]),
                                std::stoi(m[4]), m[5].matched});
        }
    }
    return displays;
}

std::vector<std::string> lines_starting(const std::string& output, const std::string& word) {
    std::vector<std::string> found;
    std::istringstream lines(output);
    for (std::string text; std::getline(lines, text);) {
        if (text.rfind(word + " ", 0) == 0)
            found.push_back(text);
    }
    return found;
}

// Paints a rectangle straight into the root window, so the capture has more than black.
void draw(const std::string& display, int x, int y, int width, int height, unsigned long rgb) {
    Display* connection = XOpenDisplay(display.c_str());
    ASSERT_NE(connection, nullptr);
    const auto root = DefaultRootWindow(connection);
    GC gc = XCreateGC(connection, root, 0, nullptr);
    XSetForeground(connection, gc, rgb);
    XSetSubwindowMode(connection, gc, IncludeInferiors);
    XFillRectangle(connection, root, gc, x, y, static_cast<unsigned>(width),
                   static_cast<unsigned>(height));
    XFreeGC(connection, gc);
    XSync(connection, False);
    XCloseDisplay(connection);
}

// The first decoded picture as RGB bytes, row by row.
std::string first_picture(const std::filesystem::path& video, int width, int height) {
    const auto picture = video.string() + ".rgb";
    const auto decoded =
        run({"ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "h264", "-i", video.string(),
             "-frames:v", "1", "-s", std::to_string(width) + "x" + std::to_string(height), "-f",
             "rawvideo", "-pix_fmt", "rgb24", picture});
    return decoded.status == 0 ? slurp(picture) : decoded.output;
}

// Equal within what the trip through 4:2:0 video changes.
bool near(std::array<int, 3> got, std::array<int, 3> wanted) {
    for (int i = 0; i < 3; ++i) {
        if (std::abs(got[i] - wanted[i]) > 24)
            return false;
    }
    return true;
}

class TwoMonitorProgram : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        auto started = Xvfb::start(left_and_smaller_right());
        if (!started) {
            error = started.error();
            return;
        }
        xvfb = std::move(*started);
        ProgramOptions options;
        options.test_pattern = false;
        options.environment = {{"DISPLAY", xvfb->display()}};
        host = std::make_unique<Program>(options);
        const auto paired = host->pair();
        if (paired.status != 0) {
            error = paired.output + host->output();
            return;
        }
        displays = displays_of(host->phone({"displays"}).output);
    }
    static void TearDownTestSuite() {
        host.reset();
        xvfb.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(error.empty()) << error;
        ASSERT_EQ(displays.size(), 2u) << host->output();
    }

    static inline std::unique_ptr<Xvfb> xvfb;
    static inline std::unique_ptr<Program> host;
    static inline std::string error;
    static inline std::vector<DisplayLine> displays;
};

TEST_F(TwoMonitorProgram, ListsBothMonitorsAndStreamsTheSecondAtItsSize) {
    EXPECT_EQ(displays[0].width, 1920);
    EXPECT_EQ(displays[0].height, 1080);
    EXPECT_TRUE(displays[0].main);
    EXPECT_EQ(displays[1].width, 1280);
    EXPECT_EQ(displays[1].height, 720);
    EXPECT_FALSE(displays[1].main);
    EXPECT_NE(displays[0].id, displays[1].id);

    // Orange on the right monitor; blue at the same place on the left one.
    draw(xvfb->display(), 1920 + 100, 100, 600, 300, 0xff8c00);
    draw(xvfb->display(), 100, 100, 600, 300, 0x0000ff);
    const auto video = host->dir() / "second.h264";
    const auto run = host->phone({"stream", "--display", std::to_string(displays[1].id), "--frames",
                                  "3", "--seconds", "30", "--out", video.string()});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(lines_starting(run.output, "format"),
              std::vector<std::string>{"format 1280x720 display " + std::to_string(displays[1].id) +
                                       " fps 30"});
    EXPECT_EQ(lines_starting(run.output, "frame").size(), 3u) << run.output;

    const auto decoded = probe_video(video);
    EXPECT_EQ(decoded.complaints, "");
    EXPECT_EQ(decoded.profile, "Constrained Baseline");
    EXPECT_EQ(decoded.sizes, (std::vector<std::pair<int, int>>(3, {1280, 720})));

    const auto rgb = first_picture(video, 1280, 720);
    ASSERT_EQ(rgb.size(), 1280u * 720u * 3u);
    const auto pixel = [&](int x, int y) {
        const auto at = (static_cast<std::size_t>(y) * 1280 + static_cast<std::size_t>(x)) * 3;
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(rgb[i]); };
        return std::array<int, 3>{byte(at), byte(at + 1), byte(at + 2)};
    };
    EXPECT_TRUE(near(pixel(400, 250), {255, 140, 0}))
        << pixel(400, 250)[0] << "," << pixel(400, 250)[1] << "," << pixel(400, 250)[2];
    EXPECT_FALSE(near(pixel(1000, 600), {255, 140, 0}));
}

TEST_F(TwoMonitorProgram, FollowingThePointerAcrossTheEdgeRetargetsTheStream) {
    const auto right = std::to_string(displays[1].id);
    const auto video = host->dir() / "followed.h264";
    // The pointer to the middle of the right monitor, then one monitor width to the left: onto
    // the left monitor, which the stream follows.
    const auto run = host->phone({"stream", "--display", right, "--follow", "--point-after", "1",
                                  "0.5", "0.5", "--move-after", "2", "-1", "0", "--formats", "2",
                                  "--seconds", "30", "--out", video.string()});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(lines_starting(run.output, "format"),
              (std::vector<std::string>{
                  "format 1280x720 display " + right + " fps 30",
                  "format 1920x1080 display " + std::to_string(displays[0].id) + " fps 30"}))
        << run.output;
    // Frames before the second format show the right monitor, the rest the left one.
    std::size_t before = 0, after = 0;
    bool retargeted = false;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("format 1920x1080", 0) == 0) {
            retargeted = true;
        } else if (line.rfind("frame ", 0) == 0) {
            if (retargeted && after == 0) {
                EXPECT_TRUE(line.ends_with(" key")) << line;
            }
            ++(retargeted ? after : before);
        }
    }
    EXPECT_GE(before, 2u);
    EXPECT_GE(after, 1u);
    std::vector<std::pair<int, int>> sizes(before, {1280, 720});
    sizes.resize(before + after, {1920, 1080});
    const auto decoded = probe_video(video);
    EXPECT_EQ(decoded.complaints, "");
    EXPECT_EQ(decoded.sizes, sizes);
}

}  // namespace

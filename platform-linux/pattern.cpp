#include "platform-linux/pattern.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform-linux/thread_name.hpp"

namespace mirravale::platform {
namespace {

// Blue, green, red as stored in a pixel.
constexpr std::array<std::array<std::uint8_t, 3>, 8> BAR_COLOURS{{
    {46, 20, 23},
    {80, 35, 42},
    {89, 122, 255},
    {255, 140, 157},
    {232, 244, 255},
    {61, 92, 196},
    {138, 107, 82},
    {43, 158, 110},
}};
constexpr std::array<std::uint8_t, 4> SQUARE{232, 244, 255, 255};
constexpr std::uint8_t CELL_ON = 255;
constexpr std::uint8_t CELL_OFF = 16;

double triangle(double u) {
    const double r = u - 2.0 * std::floor(u / 2.0);
    return r > 1.0 ? 2.0 - r : r;
}

void put(std::uint8_t* pixel, const std::uint8_t* bgr, std::uint8_t alpha) {
    pixel[0] = bgr[0];
    pixel[1] = bgr[1];
    pixel[2] = bgr[2];
    pixel[3] = alpha;
}

}  // namespace

void paint_pattern(Picture& picture, double t, std::uint64_t n) {
    const std::int64_t w = picture.width();
    const std::int64_t h = picture.height();
    if (w == 0 || h == 0)
        return;

    // Bars depend on the column only: paint one row, copy it to every row.
    const std::int64_t bw = std::max<std::int64_t>(1, w / 8);
    const auto scroll = static_cast<std::int64_t>(std::floor(120.0 * t));
    std::uint8_t* first = picture.row(0);
    for (std::int64_t x = 0; x < w; ++x) {
        const auto index = static_cast<std::size_t>(((scroll + x) / bw) % 8);
        put(first + 4 * x, BAR_COLOURS[index].data(), 255);
    }
    const auto row_bytes = static_cast<std::size_t>(4 * w);
    for (std::int64_t y = 1; y < h; ++y) {
        std::memcpy(picture.row(static_cast<std::uint32_t>(y)), first, row_bytes);
    }

    const std::int64_t s = h / 6;
    const auto left = static_cast<std::int64_t>(static_cast<double>(w - s) * triangle(0.37 * t));
    const auto top = static_cast<std::int64_t>(static_cast<double>(h - s) * triangle(0.53 * t));
    const std::int64_t x0 = std::clamp<std::int64_t>(left, 0, w);
    const std::int64_t x1 = std::clamp<std::int64_t>(left + s, 0, w);
    const std::int64_t y0 = std::clamp<std::int64_t>(top, 0, h);
    const std::int64_t y1 = std::clamp<std::int64_t>(top + s, 0, h);
    for (std::int64_t y = y0; y < y1; ++y) {
        std::uint8_t* row = picture.row(static_cast<std::uint32_t>(y));
        for (std::int64_t x = x0; x < x1; ++x)
            put(row + 4 * x, SQUARE.data(), SQUARE[3]);
    }

    if (h < 2)
        return;
    const std::int64_t sh = std::max<std::int64_t>(2, h / 24);
    const std::int64_t cw = std::max<std::int64_t>(1, w / 16);
    for (std::int64_t v = 0; v < 16; ++v) {
        const std::int64_t from = cw * v + 2;
        const std::int64_t to = std::min(w, std::max<std::int64_t>(0, cw * (v + 1) - 2));
        if (from >= to)
            continue;
        const std::uint8_t level = ((n >> v) & 1U) != 0 ? CELL_ON : CELL_OFF;
        for (std::int64_t y = std::max<std::int64_t>(0, h - sh); y < h; ++y) {
            std::uint8_t* row = picture.row(static_cast<std::uint32_t>(y));
            for (std::int64_t x = from; x < to; ++x) {
                row[4 * x] = level;
                row[4 * x + 1] = level;
                row[4 * x + 2] = level;
            }
        }
    }
}

PatternHandle::PatternHandle(std::shared_ptr<Feeder> feeder,
                             std::shared_ptr<std::atomic<bool>> stop,
                             std::unique_ptr<Refresher> refresher, std::thread thread)
    : feeder_(std::move(feeder)),
      stop_(std::move(stop)),
      refresher_(std::move(refresher)),
      thread_(std::move(thread)) {}

PatternHandle::~PatternHandle() {
    stop_->store(true, std::memory_order_seq_cst);
    if (thread_.joinable())
        thread_.join();
    feeder_.reset();
    // The refresher holds the last feeder reference: its release flushes the encoder here.
    refresher_.reset();
}

void PatternHandle::request_keyframe() {
    feeder_->request_keyframe();
}

Status PatternHandle::retarget(const core::StreamPlan&) {
    return fail(std::string("this pipeline cannot be retargeted"));
}

Result<std::unique_ptr<core::PipelineHandle>> TestPatternPipeline::start(
    const core::StreamPlan& plan, std::shared_ptr<core::FrameGate> gate, core::EventSink sink) {
    auto encoder = H264Encoder::create(plan, sink);
    if (!encoder)
        return fail(encoder.error());
    auto feeder = std::make_shared<Feeder>(std::move(*encoder), std::move(gate), std::move(sink));
    auto stop = std::make_shared<std::atomic<bool>>(false);

    const std::uint32_t width = plan.width;
    const std::uint32_t height = plan.height;
    const std::uint32_t fps = std::max<std::uint32_t>(plan.fps, 1);
    std::thread thread;
    try {
        thread = std::thread([stop, feeder, width, height, fps] {
            // "mirravale-pattern" is longer than Linux keeps: it shows as its first 15 bytes.
            set_thread_name("mirravale-pattern");
            const std::chrono::nanoseconds interval{1'000'000'000LL / fps};
            const auto t0 = std::chrono::steady_clock::now();
            for (std::uint64_t n = 0; !stop->load(std::memory_order_acquire); ++n) {
                const auto elapsed = std::chrono::steady_clock::now() - t0;
                const double t =
                    elapsed.count() < 0 ? 0.0 : std::chrono::duration<double>(elapsed).count();
                auto picture = std::make_shared<Picture>(width, height);
                paint_pattern(*picture, t, n);
                feeder->push(std::move(picture), monotonic_us(std::chrono::steady_clock::now()));
                if (interval.count() != 0)
                    std::this_thread::sleep_for(interval);
            }
        });
    } catch (const std::system_error& error) {
        return fail(std::string(error.what()));
    }
    auto refresher = Refresher::start(feeder);
    return std::unique_ptr<core::PipelineHandle>(std::make_unique<PatternHandle>(
        std::move(feeder), std::move(stop), std::move(refresher), std::move(thread)));
}

}  // namespace mirravale::platform

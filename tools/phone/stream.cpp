#include "tools/phone/stream.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

namespace mirravale::phone {

namespace {

using Clock = std::chrono::steady_clock;

template <typename T>
Result<T> number(const std::string& word, T low, T high) {
    T value{};
    const auto* end = word.data() + word.size();
    const auto [at, error] = std::from_chars(word.data(), end, value);
    if (error != std::errc{} || at != end || value < low || value > high)
        return fail("a bad number: " + word);
    return value;
}

Result<float> fraction(const std::string& word) {
    auto value = number<float>(word, -1000.0f, 1000.0f);
    if (!value || !std::isfinite(*value))
        return fail("a bad number: " + word);
    return value;
}

Result<std::pair<std::uint16_t, std::uint16_t>> size(const std::string& word) {
    const auto x = word.find('x');
    if (x == std::string::npos)
        return fail("a bad size: " + word + " (WxH)");
    auto width = number<std::uint16_t>(word.substr(0, x), 0, 65535);
    auto height = number<std::uint16_t>(word.substr(x + 1), 0, 65535);
    if (!width || !height)
        return fail("a bad size: " + word + " (WxH)");
    return std::make_pair(*width, *height);
}

void write_annexb(std::FILE* out, std::span<const std::uint8_t> nal) {
    static constexpr std::uint8_t START[] = {0, 0, 0, 1};
    std::fwrite(START, 1, 4, out);
    std::fwrite(nal.data(), 1, nal.size(), out);
}

int failed(const std::string& text) {
    std::fprintf(stderr, "mirravale-phone: %s\n", text.c_str());
    return 1;
}

}  // namespace

Result<StreamOptions> parse_stream_options(const std::vector<std::string>& words) {
    // Each option and the number of words that follow it.
    static const std::map<std::string, std::size_t> arity = {
        {"--no-ack", 0},       {"--cursors", 0},        {"--follow", 0},
        {"--seconds", 1},      {"--frames", 1},         {"--formats", 1},
        {"--out", 1},          {"--size", 1},           {"--fps", 1},
        {"--display", 1},      {"--keyframe-after", 1}, {"--resize-after", 2},
        {"--select-after", 2}, {"--point-after", 3},    {"--move-after", 3}};
    StreamOptions options;
    auto& request = options.request;
    // Actions are built once the whole line is read: a later request is the first one with
    // only its size or display changed, wherever --size, --fps or --display stand.
    std::vector<std::vector<std::string>> scripted;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto found = arity.find(words[i]);
        if (found == arity.end())
            return fail("unknown option " + words[i]);
        if (i + found->second >= words.size())
            return fail("missing value after " + words[i]);
        const std::vector<std::string> item(words.begin() + i,
                                            words.begin() + i + found->second + 1);
        i += found->second;
        const auto& word = item[0];
        if (word == "--no-ack") {
            options.ack = false;
        } else if (word == "--cursors") {
            options.cursors = true;
        } else if (word == "--follow") {
            options.actions.push_back({0, {wire::client::FollowPointer{true}}});
        } else if (word == "--seconds") {
            auto seconds = number<double>(item[1], 0, 1e6);
            if (!seconds)
                return fail(seconds.error());
            options.seconds = *seconds;
        } else if (word == "--frames") {
            auto frames = number<std::uint64_t>(item[1], 0, UINT64_MAX);
            if (!frames)
                return fail(frames.error());
            options.frames = *frames;
        } else if (word == "--formats") {
            auto formats = number<std::uint64_t>(item[1], 0, UINT64_MAX);
            if (!formats)
                return fail(formats.error());
            options.formats = *formats;
        } else if (word == "--out") {
            options.out = item[1];
        } else if (word == "--size") {
            auto wh = size(item[1]);
            if (!wh)
                return fail(wh.error());
            std::tie(request.max_width, request.max_height) = *wh;
        } else if (word == "--fps") {
            auto fps = number<std::uint8_t>(item[1], 0, 255);
            if (!fps)
                return fail(fps.error());
            request.fps = *fps;
        } else if (word == "--display") {
            auto id = number<std::uint32_t>(item[1], 0, UINT32_MAX);
            if (!id)
                return fail(id.error());
            request.display_id = *id;
        } else {
            scripted.push_back(item);
        }
    }
    for (const auto& item : scripted) {
        const auto& word = item[0];
        auto after = number<std::uint64_t>(item[1], 0, UINT64_MAX);
        if (!after)
            return fail(after.error());
        StreamAction action{*after, {wire::client::KeyframeRequest{}}};
        if (word == "--resize-after") {
            auto wh = size(item[2]);
            if (!wh)
                return fail(wh.error());
            auto changed = request;
            std::tie(changed.max_width, changed.max_height) = *wh;
            action.message = {changed};
        } else if (word == "--select-after") {
            auto id = number<std::uint32_t>(item[2], 0, UINT32_MAX);
            if (!id)
                return fail(id.error());
            auto changed = request;
            changed.display_id = *id;
            action.message = {changed};
        } else if (word == "--point-after" || word == "--move-after") {
            auto a = fraction(item[2]);
            auto b = fraction(item[3]);
            if (!a || !b)
                return fail(!a ? a.error() : b.error());
            action.message = word == "--point-after"
                                 ? wire::ClientMessage{wire::client::PointerAbsolute{*a, *b}}
                                 : wire::ClientMessage{wire::client::PointerRelative{*a, *b}};
        }
        options.actions.push_back(std::move(action));
    }
    std::stable_sort(options.actions.begin(), options.actions.end(),
                     [](const auto& a, const auto& b) { return a.after < b.after; });
    return options;
}

std::string describe(const wire::ClientMessage& message) {
    using namespace wire::client;
    return std::visit(
        [](const auto& m) -> std::string {
            using T = std::decay_t<decltype(m)>;
            char text[160];
            if constexpr (std::is_same_v<T, StreamRequest>) {
                std::snprintf(text, sizeof text, "StreamRequest %ux%u display %u fps %u",
                              m.max_width, m.max_height, m.display_id, m.fps);
            } else if constexpr (std::is_same_v<T, KeyframeRequest>) {
                std::snprintf(text, sizeof text, "KeyframeRequest");
            } else if constexpr (std::is_same_v<T, FollowPointer>) {
                std::snprintf(text, sizeof text, "FollowPointer %d", m.enabled ? 1 : 0);
            } else if constexpr (std::is_same_v<T, PointerAbsolute>) {
                std::snprintf(text, sizeof text, "PointerAbsolute %g %g", m.x, m.y);
            } else if constexpr (std::is_same_v<T, PointerRelative>) {
                std::snprintf(text, sizeof text, "PointerRelative %g %g", m.dx, m.dy);
            } else {
                std::snprintf(text, sizeof text, "message");
            }
            return text;
        },
        message.message);
}

int stream(Client& client, const StreamOptions& options) {
    if (auto sent = client.send({options.request}); !sent)
        return failed(sent.error());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    if (!options.out.empty()) {
        file.reset(std::fopen(options.out.c_str(), "wb"));
        if (!file)
            return failed("cannot write " + options.out);
    }
    std::FILE* out = file.get();
    std::uint64_t frames = 0, keyframes = 0, bytes = 0, formats = 0;
    bool frame_after_last_format = false;
    std::size_t next_action = 0;
    bool keyframe_asked = false;
    // Sends the actions due once `frames` frames have arrived.
    const auto act = [&]() -> Status {
        for (; next_action < options.actions.size() && options.actions[next_action].after <= frames;
             ++next_action) {
            const auto& message = options.actions[next_action].message;
            if (auto sent = client.send(message); !sent)
                return sent;
            keyframe_asked = keyframe_asked ||
                             std::holds_alternative<wire::client::KeyframeRequest>(message.message);
            std::printf("sent %s after %llu\n", describe(message).c_str(),
                        static_cast<unsigned long long>(frames));
        }
        return {};
    };
    if (auto sent = act(); !sent)
        return failed(sent.error());

    std::vector<double> gaps;
    const auto start = Clock::now();
    auto last = start;
    auto next_ping = start;
    const auto done = [&] {
        return (options.frames != 0 && frames >= options.frames) ||
               (options.formats != 0 && formats >= options.formats && frame_after_last_format) ||
               Clock::now() - start >= std::chrono::duration<double>(options.seconds);
    };
    while (!done()) {
        if (Clock::now() >= next_ping) {  // keeps the session from going quiet without acks
            (void)client.send({wire::client::Ping{frames}});  // a failure shows on the next read
            next_ping = Clock::now() + std::chrono::seconds(2);
        }
        auto message = client.receive(std::chrono::milliseconds(500));
        if (!message) {
            if (message.error() == "no message from the host in time")
                continue;
            return failed(message.error());
        }
        if (auto* format = std::get_if<wire::host::StreamFormat>(&message->message)) {
            ++formats;
            frame_after_last_format = false;
            std::printf("format %ux%u display %u fps %u\n", format->width, format->height,
                        format->display_id, format->fps);
            if (out) {
                for (const auto& set : format->parameter_sets)
                    write_annexb(out, set);
            }
        } else if (auto* frame = std::get_if<wire::host::VideoFrame>(&message->message)) {
            const auto now = Clock::now();
            if (frames > 0)
                gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            ++frames;
            frame_after_last_format = true;
            keyframes += frame->keyframe;
            bytes += frame->data->size();
            if (out) {
                // Each NAL unit's 4-byte length becomes a start code.
                const auto& data = *frame->data;
                for (std::size_t at = 0; at + 4 <= data.size();) {
                    const std::size_t n = (std::size_t{data[at]} << 24) | (data[at + 1] << 16) |
                                          (data[at + 2] << 8) | data[at + 3];
                    const auto length = std::min(n, data.size() - at - 4);
                    write_annexb(out, {data.data() + at + 4, length});
                    at += 4 + length;
                }
            }
            std::printf("frame %u%s\n", frame->seq, frame->keyframe ? " key" : "");
            if (keyframe_asked && frame->keyframe) {
                std::printf("keyframe-answer %u\n", frame->seq);
                keyframe_asked = false;
            }
            if (options.ack)
                (void)client.send({wire::client::FrameAck{frame->seq}});
            if (auto sent = act(); !sent)
                return failed(sent.error());
        } else if (auto* cursor = std::get_if<wire::host::Cursor>(&message->message)) {
            if (options.cursors)
                std::printf("cursor %g %g%s\n", cursor->x, cursor->y,
                            cursor->inside ? " inside" : " outside");
        } else if (auto* goodbye = std::get_if<wire::host::Goodbye>(&message->message)) {
            return failed("the host said goodbye: " + goodbye->message);
        }
    }
    file.reset();  // complete on disk before the summary says so
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(gaps.begin(), gaps.end());
    const auto pct = [&](double p) {
        return gaps.empty() ? 0.0 : gaps[std::size_t(p * (gaps.size() - 1))];
    };
    std::printf(
        "frames %llu keyframes %llu formats %llu bytes %llu fps %.1f gap_ms p50 %.1f p99 %.1f max "
        "%.1f\n",
        (unsigned long long)frames, (unsigned long long)keyframes, (unsigned long long)formats,
        (unsigned long long)bytes, frames / elapsed, pct(0.5), pct(0.99),
        gaps.empty() ? 0.0 : gaps.back());
    (void)client.send({wire::client::Goodbye{wire::GoodbyeReason::Normal}});
    return 0;
}

}  // namespace mirravale::phone

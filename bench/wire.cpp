// Decode and encode rates of the phone protocol.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <span>
#include <vector>

#include "wire/messages.hpp"

namespace {

using namespace mirravale::wire;

std::vector<std::uint8_t> hello_body() {
    std::vector<std::uint8_t> b = {0x01, 0x00, 0x01};
    b.insert(b.end(), 16, 0x42);
    for (const char* s : {"Camille's phone", "2.4.1"}) {
        const std::string text(s);
        b.push_back(0);
        b.push_back(static_cast<std::uint8_t>(text.size()));
        b.insert(b.end(), text.begin(), text.end());
    }
    b.push_back(0x02);
    b.insert(b.end(), 32, 0x17);
    return b;
}

void DecodePointer(benchmark::State& state) {
    const std::vector<std::uint8_t> body = {0x10, 0x3F, 0x00, 0x00, 0x00, 0x3E, 0x80, 0x00, 0x00};
    for (auto _ : state) {
        benchmark::DoNotOptimize(ClientMessage::decode(body));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DecodePointer);

void DecodeHello(benchmark::State& state) {
    const auto body = hello_body();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ClientMessage::decode(body));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DecodeHello);

void EncodeWelcome(benchmark::State& state) {
    host::Welcome welcome;
    welcome.host_name = "Mirravale on studio";
    welcome.displays = {DisplayEntry{1, "Display 1", 1920, 1080, 1920, 1080, true},
                        DisplayEntry{2, "Display 2", 2560, 1440, 2560, 1440, false}};
    const HostMessage message{welcome};
    std::vector<std::uint8_t> buffer;
    for (auto _ : state) {
        buffer.clear();
        message.encode_into(buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(EncodeWelcome);

// The writer sends the 18-byte header and then the payload from the message itself.
void VideoFrameHeaderAndPayload(benchmark::State& state) {
    const HostMessage frame{host::VideoFrame{
        1, 0, true, std::make_shared<const std::vector<std::uint8_t>>(100 * 1024, 0x5A)}};
    std::vector<std::uint8_t> out;
    out.reserve(200 * 1024);
    for (auto _ : state) {
        out.clear();
        frame.encode_into(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * (100 * 1024 + 18));
}
BENCHMARK(VideoFrameHeaderAndPayload);

void VideoFrameHeaderOnly(benchmark::State& state) {
    const host::VideoFrame frame{
        1, 0, true, std::make_shared<const std::vector<std::uint8_t>>(100 * 1024, 0x5A)};
    for (auto _ : state) {
        benchmark::DoNotOptimize(video_frame_header(frame));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(VideoFrameHeaderOnly);

// The reader's whole path for input: pointer frames arriving in 16 KiB pieces (one TLS record),
// cut into bodies and decoded.
void CutAndDecodePointerStream(benchmark::State& state) {
    const std::vector<std::uint8_t> frame = {0, 0, 0, 9, 0x10, 0x3F, 0, 0, 0, 0x3E, 0x80, 0, 0};
    std::vector<std::uint8_t> stream;
    constexpr int frames = 4096;
    for (int i = 0; i < frames; ++i) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    constexpr std::size_t record = 16 * 1024;
    for (auto _ : state) {
        FrameReader reader;
        std::size_t decoded = 0;
        for (std::size_t at = 0; at < stream.size(); at += record) {
            std::span<const std::uint8_t> piece(stream.data() + at,
                                                std::min(record, stream.size() - at));
            while (!piece.empty()) {
                piece = piece.subspan(reader.feed(piece));
                if (reader.has_body()) {
                    decoded += ClientMessage::decode(reader.body()).ok();
                    reader.next();
                }
            }
        }
        benchmark::DoNotOptimize(decoded);
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(CutAndDecodePointerStream);

}  // namespace

BENCHMARK_MAIN();

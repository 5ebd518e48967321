// Decode and encode rates of the phone protocol.
#include <benchmark/benchmark.h>

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

}  // namespace

BENCHMARK_MAIN();

// mirravale-phone: plays a phone against a host, for tests, demos and measurements.
//
//   mirravale-phone [--state FILE] [--address IP:PORT] pair LINK
//                                         pair with the code in a pairing link; --address
//                                         replaces the link's addresses (a host without a
//                                         LAN address, or one reached through a tunnel)
//   mirravale-phone [--state FILE] login         log in again with the stored token
//   mirravale-phone [--state FILE] ping          log in and measure one round trip
//   mirravale-phone [--state FILE] displays      log in and list the host's displays
//   mirravale-phone [--state FILE] stream [--seconds N] [--out FILE.h264] [--size WxH]
//                                         [--fps N] [--display ID] [--no-ack]

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tools/phone/client.hpp"
#include "tools/phone/link.hpp"

namespace {

using namespace mirravale;
using Clock = std::chrono::steady_clock;

struct State {
    std::string link;
    std::string device_id;
    std::string token;
};

Result<State> load_state(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return fail("no pairing stored in " + path + ": run `pair LINK` first");
    State state;
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const auto key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "link")
            state.link = value;
        if (key == "device_id")
            state.device_id = value;
        if (key == "token")
            state.token = value;
    }
    return state;
}

bool save_state(const std::string& path, const State& state) {
    std::ofstream out(path, std::ios::trunc);
    out << "link=" << state.link << "\ndevice_id=" << state.device_id << "\ntoken=" << state.token
        << "\n";
    return static_cast<bool>(out);
}

int failed(const std::string& text) {
    std::fprintf(stderr, "mirravale-phone: %s\n", text.c_str());
    return 1;
}

// The address given on the command line, in the link's own form ("127.0.0.1:47474").
std::string address_override;

Result<phone::Link> link_with_override(const std::string& url) {
    auto link = phone::parse_link(url);
    if (!link || address_override.empty())
        return link;
    auto forced = phone::parse_link("mirravale://pair?v=1&id=&n=&a=" + address_override +
                                    "&fp=" + std::string(43, 'A') + "&c=&x=0");
    if (!forced)
        return fail("a bad --address: " + address_override);
    link->addresses = forced->addresses;
    return link;
}

// Connects and says Hello; gives the client and the Welcome, or an error text.
Result<std::pair<std::unique_ptr<phone::Client>, wire::host::Welcome>> log_in(
    const phone::Link& link, const wire::DeviceId& device_id, wire::HelloAuth auth) {
    auto client = phone::Client::connect(link.addresses, link.fingerprint);
    if (!client)
        return fail(client.error());
    wire::client::Hello hello;
    hello.version = wire::PROTOCOL_VERSION;
    hello.device_id = device_id;
    hello.device_name = "mirravale-phone";
    hello.app_version = "1";
    hello.auth = std::move(auth);
    if (auto sent = (*client)->send({hello}); !sent)
        return fail(sent.error());
    auto answer = (*client)->receive_skipping_cursor();
    if (!answer)
        return fail(answer.error());
    if (auto* error = std::get_if<wire::host::Error>(&answer->message)) {
        return fail("the host refused: " + error->message);
    }
    auto* welcome = std::get_if<wire::host::Welcome>(&answer->message);
    if (!welcome)
        return fail("the host did not answer with Welcome");
    return std::make_pair(std::move(*client), std::move(*welcome));
}

Result<std::pair<std::unique_ptr<phone::Client>, wire::host::Welcome>> log_in_stored(
    const std::string& state_path) {
    auto state = load_state(state_path);
    if (!state)
        return fail(state.error());
    auto link = link_with_override(state->link);
    auto id = phone::from_hex(state->device_id);
    auto token = phone::from_hex(state->token);
    if (!link || !id || !token || id->size() != 16 || token->size() != 32) {
        return fail("the stored pairing in " + state_path + " is damaged");
    }
    wire::DeviceId device_id{};
    std::copy(id->begin(), id->end(), device_id.begin());
    wire::HelloAuth::Token auth{};
    std::copy(token->begin(), token->end(), auth.token.begin());
    return log_in(*link, device_id, {auth});
}

int pair(const std::string& state_path, const std::string& url) {
    auto link = link_with_override(url);
    if (!link)
        return failed(link.error());
    wire::DeviceId device_id{};
    std::random_device random;
    for (auto& b : device_id)
        b = static_cast<std::uint8_t>(random());
    auto session = log_in(*link, device_id, {wire::HelloAuth::PairingCode{link->code}});
    if (!session)
        return failed(session.error());
    const auto& welcome = session->second;
    if (!welcome.token)
        return failed("the host gave no token");
    if (!save_state(state_path, {url, phone::to_hex(device_id), phone::to_hex(*welcome.token)})) {
        return failed("cannot write " + state_path);
    }
    std::printf("paired with %s; %zu display(s)\n", welcome.host_name.c_str(),
                welcome.displays.size());
    (void)session->first->send({wire::client::Goodbye{wire::GoodbyeReason::Normal}});
    return 0;
}

int stream(phone::Client& client, const std::map<std::string, std::string>& options) {
    const auto option = [&](const char* key, const char* fallback) {
        const auto it = options.find(key);
        return it == options.end() ? std::string(fallback) : it->second;
    };
    const double seconds = std::stod(option("--seconds", "5"));
    unsigned width = 0, height = 0;
    std::sscanf(option("--size", "0x0").c_str(), "%ux%u", &width, &height);
    const bool ack = !options.contains("--no-ack");
    wire::client::StreamRequest request{
        static_cast<std::uint32_t>(std::stoul(option("--display", "0"))),
        static_cast<std::uint16_t>(width),
        static_cast<std::uint16_t>(height),
        static_cast<std::uint8_t>(std::stoul(option("--fps", "30"))),
        0,
        wire::Codec::H264};
    if (auto sent = client.send({request}); !sent)
        return failed(sent.error());
    std::FILE* out = nullptr;
    if (options.contains("--out")) {
        out = std::fopen(options.at("--out").c_str(), "wb");
        if (!out)
            return failed("cannot write " + options.at("--out"));
    }
    static constexpr std::uint8_t START[] = {0, 0, 0, 1};
    std::uint64_t frames = 0, keyframes = 0, bytes = 0, formats = 0;
    std::vector<double> gaps;
    const auto start = Clock::now();
    auto last = start;
    auto next_ping = start;
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
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
            std::printf("format %ux%u display %u fps %u\n", format->width, format->height,
                        format->display_id, format->fps);
            if (out) {
                for (const auto& set : format->parameter_sets) {
                    std::fwrite(START, 1, 4, out);
                    std::fwrite(set.data(), 1, set.size(), out);
                }
            }
        } else if (auto* frame = std::get_if<wire::host::VideoFrame>(&message->message)) {
            const auto now = Clock::now();
            if (frames > 0)
                gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            ++frames;
            keyframes += frame->keyframe;
            bytes += frame->data->size();
            if (out) {
                // Each NAL unit's 4-byte length becomes a start code.
                const auto& data = *frame->data;
                for (std::size_t at = 0; at + 4 <= data.size();) {
                    const std::size_t n = (std::size_t{data[at]} << 24) | (data[at + 1] << 16) |
                                          (data[at + 2] << 8) | data[at + 3];
                    std::fwrite(START, 1, 4, out);
                    std::fwrite(data.data() + at + 4, 1, std::min(n, data.size() - at - 4), out);
                    at += 4 + n;
                }
            }
            std::printf("frame %u%s\n", frame->seq, frame->keyframe ? " key" : "");
            if (ack)
                (void)client.send({wire::client::FrameAck{frame->seq}});
        } else if (auto* goodbye = std::get_if<wire::host::Goodbye>(&message->message)) {
            return failed("the host said goodbye: " + goodbye->message);
        }
    }
    if (out)
        std::fclose(out);
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

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string state_path = "mirravale-phone.state";
    if (args.size() >= 2 && args[0] == "--state") {
        state_path = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() >= 2 && args[0] == "--address") {
        address_override = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        std::fputs(
            "usage: mirravale-phone [--state FILE] pair LINK | login | ping | displays | "
            "stream [--seconds N] [--out FILE.h264] [--size WxH] [--fps N] [--display ID] "
            "[--no-ack]\n",
            stderr);
        return 2;
    }
    const std::string command = args[0];
    if (command == "pair") {
        if (args.size() != 2)
            return failed("pair takes the pairing link");
        return pair(state_path, args[1]);
    }
    auto session = log_in_stored(state_path);
    if (!session)
        return failed(session.error());
    auto& [client, welcome] = *session;
    if (command == "login") {
        std::printf("logged in to %s\n", welcome.host_name.c_str());
    } else if (command == "displays") {
        for (const auto& d : welcome.displays) {
            std::printf("%u %s %ux%u pixels %ux%u%s\n", d.id, d.name.c_str(), d.width, d.height,
                        d.pixel_width, d.pixel_height, d.main ? " main" : "");
        }
    } else if (command == "ping") {
        const auto sent = Clock::now();
        (void)client->send({wire::client::Ping{42}});
        auto pong = client->receive_skipping_cursor();
        if (!pong || !std::holds_alternative<wire::host::Pong>(pong->message)) {
            return failed("no pong");
        }
        std::printf("pong in %.3f ms\n",
                    std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    } else if (command == "stream") {
        std::map<std::string, std::string> options;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--no-ack") {
                options[args[i]] = "";
            } else if (i + 1 < args.size()) {
                options[args[i]] = args[i + 1];
                ++i;
            }
        }
        return stream(*client, options);
    } else {
        return failed("unknown command " + command);
    }
    (void)client->send({wire::client::Goodbye{wire::GoodbyeReason::Normal}});
    return 0;
}

// mirravale-phone: plays a phone against a host, for tests, demos and measurements.
//
//   mirravale-phone [--state FILE] [--address IP:PORT] pair LINK
//                                         pair with the code in a pairing link; --address
//                                         replaces the link's addresses (a host without a
//                                         LAN address, or one reached through a tunnel)
//   mirravale-phone [--state FILE] login         log in again with the stored token
//   mirravale-phone [--state FILE] ping          log in and measure one round trip
//   mirravale-phone [--state FILE] displays      log in and list the host's displays
//   mirravale-phone [--state FILE] stream [--seconds N] [--frames N] [--formats N]
//                                         [--out FILE.h264] [--size WxH] [--fps N] [--display ID]
//                                         [--no-ack]
//                                         [--cursors] [--follow] [--keyframe-after N]
//                                         [--resize-after N WxH] [--select-after N ID]
//                                         [--point-after N X Y] [--move-after N DX DY]
//                                         stream, and send requests or input once N frames
//                                         have arrived; one line per event
//   mirravale-phone [--state FILE] move DX DY | point X Y | follow [on|off] | select ID
//                                         one input message or stream request in a session
//                                         of its own

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tools/phone/client.hpp"
#include "tools/phone/link.hpp"
#include "tools/phone/stream.hpp"
#include "wire/hex.hpp"

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
    wire::DeviceId device_id{};
    wire::HelloAuth::Token auth{};
    if (!link || !wire::from_hex(state->device_id, device_id) ||
        !wire::from_hex(state->token, auth.token)) {
        return fail("the stored pairing in " + state_path + " is damaged");
    }
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
    if (!save_state(state_path, {url, wire::hex(device_id), wire::hex(*welcome.token)})) {
        return failed("cannot write " + state_path);
    }
    std::printf("paired with %s; %zu display(s)\n", welcome.host_name.c_str(),
                welcome.displays.size());
    (void)session->first->send({wire::client::Goodbye{wire::GoodbyeReason::Normal}});
    return 0;
}

// One message in a session of its own, then a round trip, so the host has handled it when the
// tool ends. A stream request waits for the stream's format instead.
int send_one(phone::Client& client, const wire::ClientMessage& message) {
    if (auto sent = client.send(message); !sent)
        return failed(sent.error());
    std::printf("sent %s\n", phone::describe(message).c_str());
    const bool streams = std::holds_alternative<wire::client::StreamRequest>(message.message);
    if (!streams)
        (void)client.send({wire::client::Ping{7}});
    for (;;) {
        auto answer = client.receive();
        if (!answer)
            return failed(answer.error());
        if (auto* format = std::get_if<wire::host::StreamFormat>(&answer->message)) {
            std::printf("format %ux%u display %u fps %u\n", format->width, format->height,
                        format->display_id, format->fps);
            if (streams)
                break;
        } else if (std::holds_alternative<wire::host::Pong>(answer->message) && !streams) {
            break;
        } else if (auto* goodbye = std::get_if<wire::host::Goodbye>(&answer->message)) {
            return failed("the host said goodbye: " + goodbye->message);
        }
    }
    (void)client.send({wire::client::Goodbye{wire::GoodbyeReason::Normal}});
    return 0;
}

// The message of an input command (`move DX DY`, `point X Y`, `follow [on|off]`, `select ID`).
Result<wire::ClientMessage> input_message(const std::vector<std::string>& args) {
    const auto& command = args[0];
    // The stream options' parser checks the numbers.
    if ((command == "move" || command == "point") && args.size() == 3) {
        auto options = phone::parse_stream_options(
            {command == "move" ? "--move-after" : "--point-after", "0", args[1], args[2]});
        if (!options)
            return fail(options.error());
        return options->actions.front().message;
    }
    if (command == "follow" && args.size() <= 2) {
        if (args.size() == 2 && args[1] != "on" && args[1] != "off")
            return fail("follow takes on or off");
        return wire::ClientMessage{
            wire::client::FollowPointer{args.size() == 1 || args[1] == "on"}};
    }
    if (command == "select" && args.size() == 2) {
        auto options = phone::parse_stream_options({"--display", args[1]});
        if (!options)
            return fail(options.error());
        return wire::ClientMessage{options->request};
    }
    return fail("usage: move DX DY | point X Y | follow [on|off] | select ID");
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
            "stream [--seconds N] [--frames N] [--formats N] [--out FILE.h264] [--size WxH] [--fps "
            "N] "
            "[--display ID] [--no-ack] [--cursors] [--follow] [--keyframe-after N] "
            "[--resize-after N WxH] [--select-after N ID] [--point-after N X Y] "
            "[--move-after N DX DY] | move DX DY | point X Y | follow [on|off] | select ID\n",
            stderr);
        return 2;
    }
    const std::string command = args[0];
    if (command == "pair") {
        if (args.size() != 2)
            return failed("pair takes the pairing link");
        return pair(state_path, args[1]);
    }
    // Words are checked before the host sees a connection.
    Result<phone::StreamOptions> options = phone::StreamOptions{};
    if (command == "stream")
        options = phone::parse_stream_options({args.begin() + 1, args.end()});
    if (!options)
        return failed(options.error());
    Result<wire::ClientMessage> input = fail("");
    if (command == "move" || command == "point" || command == "follow" || command == "select") {
        input = input_message(args);
        if (!input)
            return failed(input.error());
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
        return phone::stream(*client, *options);
    } else if (input) {
        return send_one(*client, *input);
    } else {
        return failed("unknown command " + command);
    }
    (void)client->send({wire::client::Goodbye{wire::GoodbyeReason::Normal}});
    return 0;
}

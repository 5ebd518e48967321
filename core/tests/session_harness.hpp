#pragma once
// Runs one session on its own io_context thread and plays the phone through the real queues.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include "core/channels.hpp"
#include "core/service.hpp"
#include "core/session.hpp"
#include "core/testing/fakes.hpp"

namespace mirravale::core::testing {

using namespace std::chrono_literals;

inline ServiceConfig quick_config() {
    ServiceConfig config;
    config.hello_timeout = 300ms;
    config.quiet_timeout = 1500ms;  // the first check after it falls at 2 s
    return config;
}

struct Phone {
    std::shared_ptr<InboundChannel> inbound;
    std::shared_ptr<OutboundChannel> outbound;
    std::future<void> ended;

    void send(wire::ClientMessage message) {
        inbound->async_send(asio::error_code{}, std::optional(std::move(message)),
                            [](asio::error_code) {});
    }
    void hang_up() {
        inbound->async_send(asio::error_code{}, std::nullopt, [](asio::error_code) {});
    }
    // The next message from the host, or nothing within `limit`.
    std::optional<wire::HostMessage> next(std::chrono::milliseconds limit = 2000ms) {
        auto promise = std::make_shared<std::promise<std::optional<wire::HostMessage>>>();
        auto result = promise->get_future();
        outbound->async_receive([promise](asio::error_code ec, std::optional<wire::HostMessage> m) {
            promise->set_value(ec ? std::nullopt : std::move(m));
        });
        if (result.wait_for(limit) != std::future_status::ready) {
            outbound->cancel();
            return result.get();
        }
        return result.get();
    }
    // The next message of type T, skipping pointer reports.
    template <class T>
    std::optional<T> next_of(std::chrono::milliseconds limit = 2000ms) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            auto m = next(std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now()));
            if (!m)
                return std::nullopt;
            if (auto* t = std::get_if<T>(&m->message))
                return std::move(*t);
            if (!std::holds_alternative<wire::host::Cursor>(m->message)) {
                ADD_FAILURE() << "unexpected message " << m->message.index();
                return std::nullopt;
            }
        }
        return std::nullopt;
    }
    bool finished(std::chrono::milliseconds limit = 2000ms) {
        return ended.wait_for(limit) == std::future_status::ready;
    }
};

struct SessionHarness : ::testing::Test {
    // The context outlives the fakes, whose streams hold channels bound to it.
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    FakePorts fakes;
    std::shared_ptr<HostService> service =
        HostService::create({"Studio", {}, {}}, fakes.ports(), quick_config());
    std::thread runner{[this] { io.run(); }};

    ~SessionHarness() override {
        work.reset();
        io.stop();
        runner.join();
    }

    Phone connect(std::size_t outbound_capacity = OUTBOUND_CAPACITY) {
        Phone phone{std::make_shared<InboundChannel>(io, INBOUND_CAPACITY),
                    std::make_shared<OutboundChannel>(io, outbound_capacity),
                    {}};
        auto done = std::make_shared<std::promise<void>>();
        phone.ended = done->get_future();
        asio::co_spawn(io, session::run(service, "127.0.0.1:1", phone.inbound, phone.outbound),
                       [done](std::exception_ptr) { done->set_value(); });
        return phone;
    }

    std::string current_code() {
        const auto url = service->status().latest().first.invite_url;
        return url.substr(url.find("&c=") + 3, 26);
    }

    static wire::ClientMessage hello(std::uint8_t id, wire::HelloAuth auth,
                                     std::uint16_t version = 1) {
        wire::client::Hello h;
        h.version = version;
        h.device_id[0] = id;
        h.device_name = "phone " + std::to_string(id);
        h.auth = std::move(auth);
        return {h};
    }

    // A phone that paired with the current code and holds control.
    Phone logged_in(std::uint8_t id = 1, std::size_t outbound_capacity = OUTBOUND_CAPACITY) {
        auto phone = connect(outbound_capacity);
        phone.send(hello(id, {wire::HelloAuth::PairingCode{current_code()}}));
        EXPECT_TRUE(phone.next_of<wire::host::Welcome>().has_value());
        // Control is claimed just after the Welcome goes out.
        auto [status, version] = service->status().latest();
        const auto device = "phone " + std::to_string(id);
        for (int i = 0; i < 100 && !(status.controller && status.controller->device_name == device);
             ++i) {
            std::tie(status, version) = service->status().wait_changed(version, 50ms);
        }
        EXPECT_TRUE(status.controller.has_value());
        return phone;
    }
};

}  // namespace mirravale::core::testing

#pragma once
// Runs one session on its own io_context thread and plays the phone through the real queues.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
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
    config.quiet_timeout = 1000ms;
    config.housekeeping_interval = 100ms;
    config.goodbye_wait = 300ms;
    return config;
}

struct Phone {
    std::shared_ptr<InboundChannel> inbound;
    std::shared_ptr<OutboundChannel> outbound;
    std::future<void> ended;
    std::deque<wire::HostMessage> held;  // received while syncing, not yet read
    std::uint64_t sync_nonce = 1'000'000;

    void send(wire::ClientMessage message) {
        inbound->async_send(asio::error_code{}, std::optional(std::move(message)),
                            [](asio::error_code) {});
    }
    void hang_up() {
        inbound->async_send(asio::error_code{}, std::nullopt, [](asio::error_code) {});
    }
    // The next message from the host, or nothing within `limit`.
    std::optional<wire::HostMessage> next(std::chrono::milliseconds limit = 2000ms) {
        if (!held.empty()) {
            auto m = std::move(held.front());
            held.pop_front();
            return m;
        }
        return receive(limit);
    }
    // The next message of type T, skipping pointer reports.
    template <class T>
    std::optional<T> next_of(std::chrono::milliseconds limit = 2000ms) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            auto m = next(std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now()));
            if (!m) {
                return std::nullopt;
            }
            if (auto* t = std::get_if<T>(&m->message)) {
                return std::move(*t);
            }
            if (!std::holds_alternative<wire::host::Cursor>(m->message)) {
                ADD_FAILURE() << "unexpected message " << m->message.index();
                return std::nullopt;
            }
        }
        return std::nullopt;
    }
    // Returns once the session has handled every message sent before: it answers a Ping in
    // order. What arrives before the Pong is kept for `next`.
    bool sync() {
        const auto nonce = ++sync_nonce;
        send({wire::client::Ping{nonce}});
        while (auto m = receive(2000ms)) {
            const auto* pong = std::get_if<wire::host::Pong>(&m->message);
            if (pong && pong->nonce == nonce) {
                return true;
            }
            held.push_back(std::move(*m));
        }
        return false;
    }
    bool finished(std::chrono::milliseconds limit = 2000ms) {
        return ended.wait_for(limit) == std::future_status::ready;
    }

  private:
    std::optional<wire::HostMessage> receive(std::chrono::milliseconds limit) {
        auto promise = std::make_shared<std::promise<std::optional<wire::HostMessage>>>();
        auto result = promise->get_future();
        outbound->async_receive([promise](asio::error_code ec, std::optional<wire::HostMessage> m) {
            promise->set_value(ec ? std::nullopt : std::move(m));
        });
        if (result.wait_for(limit) != std::future_status::ready) {
            outbound->cancel();
        }
        return result.get();
    }
};

// Passes everything to the fake pipeline and lets a test await the session's keyframe requests,
// which are the only trace some frame events leave.
class SignallingPipeline : public ScreenPipeline {
  public:
    explicit SignallingPipeline(std::shared_ptr<ScreenPipeline> inner) : inner_(std::move(inner)) {}

    Result<std::unique_ptr<PipelineHandle>> start(const StreamPlan& plan,
                                                  std::shared_ptr<FrameGate> gate,
                                                  EventSink sink) override {
        auto started = inner_->start(plan, std::move(gate), std::move(sink));
        if (!started) {
            return started;
        }
        std::unique_ptr<PipelineHandle> handle =
            std::make_unique<Handle>(std::move(*started), requests_);
        return handle;
    }

    // True once the session has asked any pipeline for `n` keyframes in all.
    bool wait_keyframe_requests(int n) {
        std::unique_lock lock(requests_->mutex);
        return requests_->changed.wait_for(lock, 2s, [&] { return requests_->count >= n; });
    }

  private:
    struct Requests {
        std::mutex mutex;
        std::condition_variable changed;
        int count = 0;
    };
    class Handle : public PipelineHandle {
      public:
        Handle(std::unique_ptr<PipelineHandle> inner, std::shared_ptr<Requests> requests)
            : inner_(std::move(inner)), requests_(std::move(requests)) {}
        void request_keyframe() override {
            inner_->request_keyframe();
            std::lock_guard lock(requests_->mutex);
            ++requests_->count;
            requests_->changed.notify_all();
        }
        Status retarget(const StreamPlan& plan) override { return inner_->retarget(plan); }

      private:
        std::unique_ptr<PipelineHandle> inner_;
        std::shared_ptr<Requests> requests_;
    };

    std::shared_ptr<ScreenPipeline> inner_;
    std::shared_ptr<Requests> requests_ = std::make_shared<Requests>();
};

struct SessionHarness : ::testing::Test {
    // The context outlives the fakes, whose streams hold channels bound to it.
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    FakePorts fakes;
    std::shared_ptr<SignallingPipeline> screen = std::make_shared<SignallingPipeline>(fakes.screen);
    std::shared_ptr<HostService> service =
        HostService::create({"Studio", {}, {}}, ports(), quick_config());
    std::thread runner{[this] { io.run(); }};

    ~SessionHarness() override {
        work.reset();
        io.stop();
        runner.join();
    }

    Ports ports() const {
        auto ports = fakes.ports();
        ports.screen = screen;
        return ports;
    }

    Phone connect(std::size_t outbound_capacity = OUTBOUND_CAPACITY) {
        Phone phone;
        phone.inbound = std::make_shared<InboundChannel>(io, INBOUND_CAPACITY);
        phone.outbound = std::make_shared<OutboundChannel>(io, outbound_capacity);
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
        EXPECT_TRUE(phone.sync());  // the main loop runs: control is claimed
        return phone;
    }

    // The status once `ready` holds for it (or the last one seen when that takes too long).
    template <class Ready>
    HostStatus status_when(Ready ready) {
        const auto until = std::chrono::steady_clock::now() + 2000ms;
        auto [status, version] = service->status().latest();
        while (!ready(status) && std::chrono::steady_clock::now() < until) {
            std::tie(status, version) = service->status().wait_changed(
                version, std::chrono::duration_cast<std::chrono::milliseconds>(
                             until - std::chrono::steady_clock::now()));
        }
        return status;
    }
};

}  // namespace mirravale::core::testing

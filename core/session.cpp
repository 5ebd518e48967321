// A session's life: Hello and login, the main loop over its five sources, the ending.

#include "core/session.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include <asio/bind_executor.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/deferred.hpp>
#include <asio/experimental/parallel_group.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "core/log.hpp"
#include "core/session_state.hpp"
#include "core/session_text.hpp"

namespace mirravale::core::session {
namespace {

using asio::experimental::deferred;
using asio::experimental::make_parallel_group;
using asio::experimental::wait_for_one;

auto logger() {
    return log::get("mirravale_core::session");
}

const char* error_name(wire::ErrorCode code) {
    switch (code) {
        case wire::ErrorCode::VersionMismatch:
            return "VersionMismatch";
        case wire::ErrorCode::Unauthorized:
            return "Unauthorized";
        case wire::ErrorCode::CodeExpired:
            return "CodeExpired";
        case wire::ErrorCode::Busy:
            return "Busy";
        case wire::ErrorCode::HostError:
            return "HostError";
    }
    return "Other";
}

const char* goodbye_text(wire::GoodbyeReason reason) {
    switch (reason) {
        case wire::GoodbyeReason::Replaced:
            return "Another device is now controlling this Mac.";
        case wire::GoodbyeReason::HostQuitting:
            return "Mirravale was closed on the Mac.";
        case wire::GoodbyeReason::Revoked:
            return "This Mac forgot your device. Scan its code to pair again.";
        case wire::GoodbyeReason::TimedOut:
            return "The connection went quiet.";
        default:
            return "Disconnected by the Mac.";
    }
}

std::uint16_t points(double value) {
    return static_cast<std::uint16_t>(std::clamp(std::round(value), 0.0, 65535.0));
}

wire::DisplayEntry entry_of(const Display& d) {
    return {d.id,
            d.name,
            points(d.frame.width),
            points(d.frame.height),
            static_cast<std::uint16_t>(std::min<std::uint32_t>(d.pixel_width, 65535)),
            static_cast<std::uint16_t>(std::min<std::uint32_t>(d.pixel_height, 65535)),
            d.main};
}

asio::awaitable<void> send_to(OutboundChannel& outbound, wire::HostMessage message) {
    co_await outbound.async_send(asio::error_code{}, std::optional(std::move(message)),
                                 asio::experimental::as_tuple(asio::use_awaitable));
}

asio::awaitable<void> pause(std::chrono::milliseconds duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
}

// The first message; an empty inner value when the connection ended first, nothing at all when
// the time ran out.
asio::awaitable<std::optional<std::optional<wire::ClientMessage>>> first_message(
    InboundChannel& inbound, std::chrono::milliseconds limit) {
    asio::steady_timer timer(co_await asio::this_coro::executor, limit);
    auto [order, received_ec, message, timer_ec] =
        co_await make_parallel_group(inbound.async_receive(deferred), timer.async_wait(deferred))
            .async_wait(wait_for_one(), asio::use_awaitable);
    (void)timer_ec;
    if (order[0] == 0) {
        co_return received_ec ? std::optional<wire::ClientMessage>{} : std::move(message);
    }
    co_return std::nullopt;
}

struct Ending {
    bool say_goodbye = false;
    wire::GoodbyeReason reason = wire::GoodbyeReason::Normal;
};

// Items taken from the channels and not yet handled. The receive handlers fill them and may run
// after the loop is gone, so they hold this by shared pointer.
struct Arrivals {
    explicit Arrivals(const asio::any_io_executor& executor)
        : wake(executor, Clock::time_point::max()) {}
    std::optional<std::optional<wire::ClientMessage>> inbound;
    std::optional<std::pair<std::uint64_t, PipelineEvent>> event;
    std::optional<wire::GoodbyeReason> kick;
    bool inbound_armed = false;
    bool event_armed = false;
    bool kick_armed = false;
    asio::steady_timer wake;
};

// Every source of the main loop and what to do when one is ready. Each channel has one receive
// outstanding at all times and its item waits in `Arrivals` until handled, so nothing is lost and
// no receive is ever cancelled (Asio 1.22 leaves a channel refusing `try_send` after a cancelled
// receive, which would silently drop pipeline events and kicks). Each round looks at the sources
// in a random order and takes at most one item from each; only when none was ready does the loop
// sleep until a receive completes or a period ends.
class Loop {
  public:
    Loop(Session& session, HostService& service, InboundChannel& inbound, EventChannel& events,
         KickChannel& kick, asio::any_io_executor executor)
        : session_(session),
          service_(service),
          inbound_(inbound),
          events_(events),
          kick_(kick),
          executor_(executor),
          arrivals_(std::make_shared<Arrivals>(executor)),
          next_pointer_(Clock::now()),
          next_housekeeping_(Clock::now()),
          last_inbound_(Clock::now()),
          random_(std::random_device{}()) {}

    asio::awaitable<Ending> run() {
        while (!ending_) {
            arm();
            const bool took = co_await take_ready();
            if (!took && !ending_) {
                arrivals_->wake.expires_at(std::min(next_pointer_, next_housekeeping_));
                co_await arrivals_->wake.async_wait(
                    asio::experimental::as_tuple(asio::use_awaitable));
            }
        }
        const Ending ending = *ending_;
        co_return ending;
    }

  private:
    enum Source { Inbound, Event, Pointer, Housekeeping, Kick };

    void arm() {
        auto arrivals = arrivals_;
        if (!arrivals->inbound && !arrivals->inbound_armed) {
            arrivals->inbound_armed = true;
            inbound_.async_receive(asio::bind_executor(
                executor_, [arrivals](asio::error_code ec, std::optional<wire::ClientMessage> m) {
                    arrivals->inbound_armed = false;
                    arrivals->inbound.emplace(ec ? std::nullopt : std::move(m));
                    arrivals->wake.cancel();
                }));
        }
        if (!arrivals->event && !arrivals->event_armed) {
            arrivals->event_armed = true;
            events_.async_receive(asio::bind_executor(
                executor_,
                [arrivals](asio::error_code ec, std::uint64_t generation, PipelineEvent event) {
                    arrivals->event_armed = false;
                    if (!ec) {
                        arrivals->event.emplace(generation, std::move(event));
                        arrivals->wake.cancel();
                    }
                }));
        }
        if (!arrivals->kick && !arrivals->kick_armed) {
            arrivals->kick_armed = true;
            kick_.async_receive(asio::bind_executor(
                executor_, [arrivals](asio::error_code ec, wire::GoodbyeReason reason) {
                    // A sender dropped unsent closes the channel: a normal goodbye.
                    arrivals->kick = ec ? wire::GoodbyeReason::Normal : reason;
                    arrivals->wake.cancel();
                }));
        }
    }

    asio::awaitable<bool> take_ready() {
        std::array<Source, 5> order = {Inbound, Event, Pointer, Housekeeping, Kick};
        std::shuffle(order.begin(), order.end(), random_);
        bool any = false;
        for (const auto source : order) {
            if (ending_) {
                break;
            }
            switch (source) {
                case Inbound:
                    if (arrivals_->inbound) {
                        any = true;
                        auto message = std::move(*arrivals_->inbound);
                        arrivals_->inbound.reset();
                        co_await on_inbound(std::move(message));
                    }
                    break;
                case Event:
                    if (arrivals_->event) {
                        any = true;
                        auto [generation, event] = std::move(*arrivals_->event);
                        arrivals_->event.reset();
                        co_await session_.handle_event(generation, std::move(event));
                    }
                    break;
                case Pointer:
                    if (due(next_pointer_, service_.config().cursor_interval)) {
                        any = true;
                        session_.send_cursor();
                    }
                    break;
                case Housekeeping:
                    if (due(next_housekeeping_, service_.config().housekeeping_interval)) {
                        any = true;
                        co_await housekeeping();
                    }
                    break;
                case Kick:
                    if (arrivals_->kick) {
                        any = true;
                        ending_ = Ending{true, *arrivals_->kick};
                    }
                    break;
            }
        }
        co_return any;
    }

    // A periodic source is ready once its time has come; the next time keeps the period.
    static bool due(Clock::time_point& next, std::chrono::milliseconds period) {
        if (next > Clock::now()) {
            return false;
        }
        next += period;
        return true;
    }

    asio::awaitable<void> housekeeping() {
        if (Clock::now() - last_inbound_ > service_.config().quiet_timeout) {
            ending_ = Ending{true, wire::GoodbyeReason::TimedOut};
            co_return;
        }
        co_await session_.check_permissions();
    }

    asio::awaitable<void> on_inbound(std::optional<wire::ClientMessage> message) {
        if (!message) {
            ending_ = Ending{};
            co_return;
        }
        last_inbound_ = Clock::now();
        auto& m = message->message;
        using namespace wire::client;
        if (auto* request = std::get_if<StreamRequest>(&m)) {
            co_await session_.start_stream(*request);
        } else if (std::holds_alternative<KeyframeRequest>(m)) {
            session_.request_keyframe();
        } else if (auto* ack = std::get_if<FrameAck>(&m)) {
            session_.acknowledge(ack->seq);
        } else if (auto* ping = std::get_if<Ping>(&m)) {
            wire::HostMessage pong{wire::host::Pong{ping->nonce}};
            co_await session_.send(std::move(pong));
        } else if (std::holds_alternative<Goodbye>(m)) {
            ending_ = Ending{};
        } else if (auto* absolute = std::get_if<PointerAbsolute>(&m)) {
            co_await session_.pointer_absolute(absolute->x, absolute->y);
        } else if (auto* relative = std::get_if<PointerRelative>(&m)) {
            co_await session_.pointer_relative(relative->dx, relative->dy);
        } else if (auto* button = std::get_if<PointerButton>(&m)) {
            const auto clicks = std::clamp<std::uint8_t>(button->clicks, 1, 3);
            service_.ports().input->inject(input::Button{button->button, button->pressed, clicks});
        } else if (auto* scroll = std::get_if<Scroll>(&m)) {
            service_.ports().input->inject(input::Scroll{scroll->dx, scroll->dy, scroll->phase});
        } else if (auto* key = std::get_if<Key>(&m)) {
            service_.ports().input->inject(input::Key{key->keycode, key->pressed, key->modifiers});
        } else if (auto* text = std::get_if<Text>(&m)) {
            service_.ports().input->inject(input::Text{text->text});
        } else if (auto* follow = std::get_if<FollowPointer>(&m)) {
            session_.set_follow(follow->enabled);
        }
        // A second Hello is ignored.
    }

    Session& session_;
    HostService& service_;
    InboundChannel& inbound_;
    EventChannel& events_;
    KickChannel& kick_;
    asio::any_io_executor executor_;
    std::shared_ptr<Arrivals> arrivals_;
    Clock::time_point next_pointer_;
    Clock::time_point next_housekeeping_;
    Clock::time_point last_inbound_;
    std::minstd_rand random_;
    std::optional<Ending> ending_;
};

asio::awaitable<void> say_goodbye(OutboundChannel& outbound, wire::GoodbyeReason reason,
                                  std::chrono::milliseconds wait) {
    asio::steady_timer limit(co_await asio::this_coro::executor, wait);
    wire::HostMessage goodbye{wire::host::Goodbye{reason, goodbye_text(reason)}};
    co_await make_parallel_group(
        outbound.async_send(asio::error_code{}, std::optional(std::move(goodbye)), deferred),
        limit.async_wait(deferred))
        .async_wait(wait_for_one(), asio::use_awaitable);
}

}  // namespace

asio::awaitable<void> run(std::shared_ptr<HostService> service, std::string peer,
                          std::shared_ptr<InboundChannel> inbound,
                          std::shared_ptr<OutboundChannel> outbound) {
    auto received = co_await first_message(*inbound, service->config().hello_timeout);
    if (!received) {
        logger()->debug("no Hello in time peer={}", peer);
        co_return;
    }
    if (!*received) {
        co_return;  // the connection ended
    }
    const auto& first = *received;
    const auto* hello = std::get_if<wire::client::Hello>(&first->message);
    if (!hello) {
        logger()->debug("first message was not Hello: {} peer={}", describe(*first), peer);
        co_return;
    }
    if (hello->version != wire::PROTOCOL_VERSION) {
        wire::HostMessage refusal{wire::host::Error{
            wire::ErrorCode::VersionMismatch,
            "Mirravale on your phone and on your Mac are different versions. Update both."}};
        co_await send_to(*outbound, std::move(refusal));
        co_return;
    }
    const auto device = printable(hello->device_name);
    auto login = service->authenticate(*hello);
    if (!login) {
        logger()->info("refused peer={} device={} reason={}", peer, device,
                       error_name(login.error().code));
        co_await pause(service->config().refusal_delay);
        wire::HostMessage refusal{wire::host::Error{login.error().code, login.error().message}};
        co_await send_to(*outbound, std::move(refusal));
        co_return;
    }

    auto displays = service->ports().displays->displays();
    const auto permissions = service->ports().permissions->permissions();
    wire::host::Welcome welcome;
    welcome.host_id = service->identity().host_id;
    welcome.host_name = service->identity().name;
    welcome.token = login->token;
    for (const auto& d : displays) {
        welcome.displays.push_back(entry_of(d));
    }
    const auto main =
        std::find_if(displays.begin(), displays.end(), [](auto& d) { return d.main; });
    welcome.main_display = main != displays.end() ? main->id
                           : displays.empty()     ? 0
                                                  : displays.front().id;
    welcome.permissions = permissions;
    wire::HostMessage answer{std::move(welcome)};
    co_await send_to(*outbound, std::move(answer));
    if (!outbound->is_open()) {
        co_return;
    }

    const auto executor = co_await asio::this_coro::executor;
    auto claim = service->claim(hello->device_name, executor);
    logger()->info("session started peer={} device={}", peer, device);
    auto guard = service->ports().power->keep_awake();
    auto events = std::make_shared<EventChannel>(executor, EVENT_CAPACITY);
    Session session(service, outbound, events, std::move(displays), claim.claim_id, permissions);

    Ending ending;
    {
        Loop loop(session, *service, *inbound, *events, *claim.kick, executor);
        ending = co_await loop.run();
        if (ending.say_goodbye) {
            co_await say_goodbye(*outbound, ending.reason, service->config().goodbye_wait);
        }
        // Teardown: gate, pipeline and held input, then the periodic sources with the loop.
        session.stop();
    }
    // The loop's receives end here; the reader sees its pending send cancelled as the end.
    inbound->cancel();
    claim.kick->cancel();
    claim.kick.reset();
    events->cancel();
    events->close();
    guard.reset();
    service->release(claim.claim_id);
    logger()->info("session ended peer={} device={}", peer, device);
}

}  // namespace mirravale::core::session

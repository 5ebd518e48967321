// The session's stream: starting, retargeting and restarting pipelines, and forwarding their
// frames under the gate's window.

#include <asio/experimental/as_tuple.hpp>
#include <asio/use_awaitable.hpp>

#include "core/event_sink.hpp"
#include "core/log.hpp"
#include "core/policy.hpp"
#include "core/session_state.hpp"

namespace mirravale::core::session {
namespace {
auto logger() {
    return log::get("mirravale_core::session");
}

StreamInfo info_of(const StreamPlan& plan) {
    return {plan.width, plan.height, plan.fps};
}
}  // namespace

Session::Session(std::shared_ptr<HostService> service, std::shared_ptr<OutboundChannel> outbound,
                 std::shared_ptr<EventChannel> events, std::vector<Display> displays,
                 std::uint64_t claim_id, wire::PermissionSet permissions_sent)
    : service_(std::move(service)),
      outbound_(std::move(outbound)),
      events_(std::move(events)),
      displays_(std::move(displays)),
      gate_(std::make_shared<FrameGate>(service_->config().frames_in_flight)),
      claim_id_(claim_id),
      permissions_sent_(permissions_sent) {}

asio::awaitable<void> Session::send(wire::HostMessage message) {
    co_await outbound_->async_send(asio::error_code{}, std::optional(std::move(message)),
                                   asio::experimental::as_tuple(asio::use_awaitable));
}

bool Session::offer(wire::HostMessage message) {
    return outbound_->try_send(asio::error_code{}, std::optional(std::move(message)));
}

void Session::request_keyframe() {
    if (pipeline_) {
        pipeline_->request_keyframe();
    }
}

void Session::forget_stream_format() {
    awaiting_keyframe_ = true;
    last_format_.reset();
    last_cursor_.reset();
}

asio::awaitable<void> Session::start_stream(const wire::client::StreamRequest& request) {
    streaming_ = true;
    request_ = request;
    displays_ = service_->ports().displays->displays();
    const Display* chosen = nullptr;
    for (const auto& d : displays_) {
        if (request.display_id != 0 && d.id == request.display_id) {
            chosen = &d;
            break;
        }
    }
    for (const auto& d : displays_) {
        if (!chosen && d.main) {
            chosen = &d;
        }
    }
    if (!chosen && !displays_.empty()) {
        chosen = &displays_.front();
    }
    if (!chosen) {
        logger()->warn("no display to stream");
        service_->set_notice("No display is available to stream.");
        co_return;
    }
    const Display display = *chosen;
    const auto plan = plan_stream(request, display, service_->config().limits);
    logger()->info("starting stream display_id={} width={} height={} fps={} kbps={}",
                   plan.display_id, plan.width, plan.height, plan.fps, plan.kbps);

    if (pipeline_) {
        if (auto moved = pipeline_->retarget(plan); moved) {
            forget_stream_format();
            fps_ = plan.fps;
            display_ = display;
            service_->set_stream(claim_id_, info_of(plan));
            co_return;
        } else {
            logger()->debug("restarting the pipeline: {}", moved.error());
        }
    }

    pipeline_.reset();
    ++generation_;
    gate_ = FrameGate::successor(*gate_, frame_counter_);
    forget_stream_format();
    fps_ = plan.fps;
    display_ = display;
    auto sink = make_event_sink(events_, gate_, keyframe_wanted_, generation_);
    auto started = service_->ports().screen->start(plan, gate_, std::move(sink));
    if (started) {
        pipeline_ = std::move(*started);
        pipeline_->request_keyframe();
        service_->set_stream(claim_id_, info_of(plan));
        service_->set_notice(std::nullopt);
        co_return;
    }
    logger()->warn("the screen pipeline did not start: {}", started.error());
    service_->set_stream(claim_id_, std::nullopt);
    service_->set_notice(started.error());
    permissions_sent_ = service_->ports().permissions->permissions();
    wire::HostMessage update{wire::host::Permissions{permissions_sent_}};
    co_await send(std::move(update));
}

asio::awaitable<void> Session::handle_event(std::uint64_t generation, PipelineEvent event) {
    if (generation != generation_) {
        co_return;  // from a pipeline that was replaced
    }
    if (std::holds_alternative<pipeline::Dropped>(event)) {
        gate_->release();
    } else if (auto* stopped = std::get_if<pipeline::Stopped>(&event)) {
        pipeline_stopped(stopped->text);
    } else {
        co_await forward_frame(std::move(std::get<pipeline::Frame>(event)));
    }
}

void Session::pipeline_stopped(const std::string& text) {
    logger()->warn("the screen pipeline stopped: {}", text);
    pipeline_.reset();
    service_->set_stream(claim_id_, std::nullopt);
    service_->set_notice(text);
}

asio::awaitable<void> Session::forward_frame(pipeline::Frame frame) {
    if (keyframe_wanted_->exchange(false)) {
        awaiting_keyframe_ = true;
        request_keyframe();
    }
    if (awaiting_keyframe_ && !frame.keyframe) {
        gate_->release();
        co_return;
    }
    if (frame.keyframe) {
        awaiting_keyframe_ = false;
        SentFormat format{frame.parameter_sets, frame.width, frame.height,
                          display_ ? display_->id : 0};
        if (format != last_format_) {
            wire::host::StreamFormat message;
            message.width = static_cast<std::uint16_t>(std::min<std::uint32_t>(frame.width, 65535));
            message.height =
                static_cast<std::uint16_t>(std::min<std::uint32_t>(frame.height, 65535));
            message.display_id = format.display_id;
            message.fps = fps_;
            message.parameter_sets = format.parameter_sets;
            wire::HostMessage format_message{std::move(message)};
            co_await send(std::move(format_message));
            last_format_ = std::move(format);
        }
    }
    const auto seq = ++frame_counter_;
    const bool open = outbound_->is_open();
    if (offer({wire::host::VideoFrame{seq, frame.pts_us, frame.keyframe, std::move(frame.data)}})) {
        gate_->frame_queued(seq);
    } else if (open) {
        logger()->debug("outbound queue full, frame {} dropped", seq);
        gate_->release();
        awaiting_keyframe_ = true;
        request_keyframe();
    } else {
        gate_->release();
    }
}

asio::awaitable<void> Session::check_permissions() {
    const auto now = service_->ports().permissions->permissions();
    if (now != permissions_sent_) {
        permissions_sent_ = now;
        wire::HostMessage update{wire::host::Permissions{now}};
        co_await send(std::move(update));
    }
}

void Session::stop() {
    gate_->close();
    pipeline_.reset();
    service_->ports().input->release_all();
}

}  // namespace mirravale::core::session

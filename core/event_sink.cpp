#include "core/event_sink.hpp"

namespace mirravale::core {

EventSink make_event_sink(std::shared_ptr<EventChannel> events, std::shared_ptr<FrameGate> gate,
                          std::shared_ptr<std::atomic<bool>> keyframe_wanted,
                          std::uint64_t generation) {
    return [events = std::move(events), gate = std::move(gate),
            keyframe_wanted = std::move(keyframe_wanted), generation](PipelineEvent event) {
        const bool frame = std::holds_alternative<pipeline::Frame>(event);
        const bool dropped = std::holds_alternative<pipeline::Dropped>(event);
        if (events->try_send(asio::error_code{}, generation, std::move(event))) {
            return;
        }
        if (frame || dropped) {
            gate->release();
        }
        if (frame) {
            keyframe_wanted->store(true);
        }
    };
}

}  // namespace mirravale::core

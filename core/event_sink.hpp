#pragma once
// The sink a pipeline reports through: events go to the session's event queue without waiting.
// An event that does not fit is lost, and so that the gate does not stay counted for it, a lost
// frame or drop gives its unit back; a lost frame also asks for a keyframe, since the phone can
// no longer decode what follows.

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/channels.hpp"
#include "core/flow.hpp"
#include "core/ports.hpp"

namespace mirravale::core {

EventSink make_event_sink(std::shared_ptr<EventChannel> events, std::shared_ptr<FrameGate> gate,
                          std::shared_ptr<std::atomic<bool>> keyframe_wanted,
                          std::uint64_t generation);

}  // namespace mirravale::core

#pragma once
// How many encoded frames may be on their way to the phone at once. Shared between one pipeline
// (which admits pictures) and one session (which counts frames out and acknowledgements in);
// every field is atomic and every change is one atomic step, so no lock joins them. The window
// is a soft limit: a change between `admit`'s reads and its increment may let one picture more
// through.

#include <atomic>
#include <cstdint>
#include <memory>

namespace mirravale::core {

inline constexpr std::uint32_t FRAMES_IN_FLIGHT = 4;

class FrameGate {
  public:
    explicit FrameGate(std::uint32_t window, std::uint32_t sent = 0, std::uint32_t acked = 0);

    // The gate of a newly started pipeline (a retargeted one keeps its gate). Closes `old`;
    // frames it left unacknowledged, up to the session's `frame_counter`, still count.
    static std::shared_ptr<FrameGate> successor(FrameGate& old, std::uint32_t frame_counter);

    // Before each picture: false when closed or when the window is full.
    bool admit();
    // A picture produced no frame, or its frame was dropped.
    void release();
    void frame_queued(std::uint32_t seq);
    void acknowledge(std::uint32_t seq);
    void close();

    std::uint32_t window() const { return window_; }
    std::uint32_t pending() const { return pending_.load(); }
    std::uint32_t sent() const { return sent_.load(); }
    std::uint32_t acked() const { return acked_.load(); }
    bool closed() const { return closed_.load(); }
    std::uint32_t in_flight() const;

  private:
    const std::uint32_t window_;
    std::atomic<std::uint32_t> pending_{0};
    std::atomic<std::uint32_t> sent_;
    std::atomic<std::uint32_t> acked_;
    std::atomic<bool> closed_{false};
};

}  // namespace mirravale::core

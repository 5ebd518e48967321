#pragma once
// H.264 encoding of BGRA pictures with x264, tuned for no frame of delay: every submitted
// picture yields exactly one `Frame` or one `Dropped` event on the sink before `submit` returns.
// Frames carry x264's NAL units as emitted, each after a 4-byte big-endian length; keyframes
// also carry the bare SPS and PPS.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/ports.hpp"
#include "platform-linux/picture.hpp"
#include "wire/result.hpp"

struct x264_t;

namespace mirravale::platform {

// What x264 is told for a plan; exposed so the mapping can be checked without encoding.
struct EncoderSettings {
    std::uint32_t fps = 1;           // never 0
    std::uint32_t bitrate_kbps = 0;  // average
    std::uint32_t vbv_max_kbps = 0;  // with the buffer below, any 1 s window < 1.5 × kbps
    std::uint32_t vbv_buffer_kbit = 0;
    std::uint32_t keyint_max = 10;  // frames
    std::uint64_t keyframe_max_us = 10'000'000;
};

EncoderSettings encoder_settings(const core::StreamPlan& plan);

class H264Encoder {
  public:
    static Result<std::shared_ptr<H264Encoder>> create(const core::StreamPlan& plan,
                                                       core::EventSink sink);
    // Encodes what x264 still holds, delivering it to the sink, before closing.
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    const std::vector<wire::Bytes>& parameter_sets() const { return parameter_sets_; }

    // Any thread: the next submitted picture becomes a keyframe.
    void force_keyframe() { force_keyframe_.store(true, std::memory_order_seq_cst); }

    // One submitter at a time (the feeder's lock). `last_us` is the submitter's last timestamp:
    // the picture goes out at max(timestamp_us, last_us + 1), which is stored back, so
    // timestamps rise strictly even across the encoders one submitter uses in turn.
    void submit(const Picture& picture, std::uint64_t timestamp_us, std::uint64_t& last_us);

  private:
    H264Encoder(x264_t* handle, core::EventSink sink, std::uint32_t width, std::uint32_t height,
                std::uint64_t keyframe_max_us);
    void deliver_output(int frame_size, void* nals, int nal_count, const void* picture_out);

    x264_t* handle_;
    core::EventSink sink_;
    std::uint32_t width_;
    std::uint32_t height_;
    std::uint64_t keyframe_max_us_;
    std::vector<wire::Bytes> parameter_sets_;
    std::atomic<bool> force_keyframe_{true};
    std::optional<std::uint64_t> last_keyframe_us_;
    std::vector<std::uint8_t> i420_;  // conversion buffer, reused per picture
};

}  // namespace mirravale::platform

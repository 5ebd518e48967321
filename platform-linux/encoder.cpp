#include "platform-linux/encoder.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include <fmt/format.h>
#include <libyuv/convert_from_argb.h>

#include "core/log.hpp"

// x264.h relies on the fixed-width integer types without including their header.
#include <x264.h>

namespace mirravale::platform {
namespace {

constexpr std::uint64_t KEYFRAME_MAX_US = 10'000'000;
constexpr int MIN_QP = 16;  // a still screen would otherwise be re-encoded at QP 0 again and again
constexpr int BT601 = 6;    // colour primaries, transfer and matrix of libyuv's conversion
constexpr std::uint32_t MAX_SIDE = 16384;

auto logger() {
    return log::get("mirravale_platform_linux::encoder");
}

}  // namespace

EncoderSettings encoder_settings(const core::StreamPlan& plan) {
    EncoderSettings settings;
    settings.fps = std::max<std::uint32_t>(plan.fps, 1);
    settings.bitrate_kbps = plan.kbps;
    // A buffer of half a second on top of the average rate caps any one-second window at
    // 1.5 × the rate; a buffer of 1.5 × the rate would allow up to three times it.
    settings.vbv_max_kbps = plan.kbps;
    settings.vbv_buffer_kbit = plan.kbps / 2;
    settings.keyint_max = settings.fps * 10;
    settings.keyframe_max_us = KEYFRAME_MAX_US;
    return settings;
}

Result<std::shared_ptr<H264Encoder>> H264Encoder::create(const core::StreamPlan& plan,
                                                         core::EventSink sink) {
    const EncoderSettings settings = encoder_settings(plan);
    x264_param_t param;
    // x264 leaks what it allocated when it refuses to open; plans it would refuse (odd or empty
    // sizes, no bit rate) never reach it.
    const bool size_ok = plan.width >= 2 && plan.height >= 2 && plan.width % 2 == 0 &&
                         plan.height % 2 == 0 && plan.width <= MAX_SIDE &&
                         plan.height <= MAX_SIDE && plan.kbps > 0;
    int status = size_ok ? x264_param_default_preset(&param, "ultrafast", "zerolatency") : -1;
    if (status == 0) {
        // Sliced threads keep zero frames of delay; frame threads would hold pictures back.
        param.i_threads = 2;
        param.b_sliced_threads = 1;
        param.i_width = static_cast<int>(plan.width);
        param.i_height = static_cast<int>(plan.height);
        param.i_csp = X264_CSP_I420;
        param.b_annexb = 0;  // 4-byte big-endian lengths, as the phone reads them
        param.b_repeat_headers = 0;
        param.i_bframe = 0;
        param.i_scenecut_threshold = 0;
        param.i_keyint_max = static_cast<int>(settings.keyint_max);
        // Rate is budgeted per picture at the planned rate. Budgeting by timestamps instead
        // (variable-rate input) makes x264 hold every picture back until the next one comes,
        // a frame of delay; with fewer pictures than planned the stream merely stays under
        // its rate.
        param.b_vfr_input = 0;
        param.i_fps_num = settings.fps;
        param.i_fps_den = 1;
        param.rc.i_rc_method = X264_RC_ABR;
        param.rc.i_bitrate = static_cast<int>(settings.bitrate_kbps);
        param.rc.i_vbv_max_bitrate = static_cast<int>(settings.vbv_max_kbps);
        param.rc.i_vbv_buffer_size = static_cast<int>(settings.vbv_buffer_kbit);
        param.rc.i_qp_min = MIN_QP;
        param.vui.b_fullrange = 0;
        param.vui.i_colorprim = BT601;
        param.vui.i_transfer = BT601;
        param.vui.i_colmatrix = BT601;
        param.i_log_level = X264_LOG_NONE;
    }
    x264_t* handle = status == 0 ? x264_encoder_open(&param) : nullptr;
    if (size_ok)
        x264_param_cleanup(&param);  // the encoder keeps its own copy
    if (handle == nullptr) {
        if (status == 0)
            status = -1;
        return fail(fmt::format("the hardware video encoder refused {}×{} ({})", plan.width,
                                plan.height, status));
    }
    std::shared_ptr<H264Encoder> encoder(new H264Encoder(handle, std::move(sink), plan.width,
                                                         plan.height, settings.keyframe_max_us));

    x264_nal_t* nals = nullptr;
    int count = 0;
    if (x264_encoder_headers(handle, &nals, &count) >= 0) {
        for (int i = 0; i < count; ++i) {
            const x264_nal_t& nal = nals[i];
            // The SEI among the headers only names the encoder; the phone needs SPS and PPS.
            if ((nal.i_type != NAL_SPS && nal.i_type != NAL_PPS) || nal.i_payload <= 4)
                continue;
            encoder->parameter_sets_.emplace_back(nal.p_payload + 4, nal.p_payload + nal.i_payload);
        }
    }
    return encoder;
}

H264Encoder::H264Encoder(x264_t* handle, core::EventSink sink, std::uint32_t width,
                         std::uint32_t height, std::uint64_t keyframe_max_us)
    : handle_(handle),
      sink_(std::move(sink)),
      width_(width),
      height_(height),
      keyframe_max_us_(keyframe_max_us),
      i420_(std::size_t{width} * height + 2 * (std::size_t{(width + 1) / 2} * ((height + 1) / 2))) {
}

H264Encoder::~H264Encoder() {
    // Nothing should be left with zero delay; whatever is still inside goes out before closing.
    while (x264_encoder_delayed_frames(handle_) > 0) {
        x264_nal_t* nals = nullptr;
        int count = 0;
        x264_picture_t out;
        const int size = x264_encoder_encode(handle_, &nals, &count, nullptr, &out);
        if (size < 0)
            break;
        if (size > 0)
            deliver_output(size, nals, count, &out);
    }
    x264_encoder_close(handle_);
}

void H264Encoder::submit(const Picture& picture, std::uint64_t timestamp_us,
                         std::uint64_t& last_us) {
    const std::uint64_t t = std::max(timestamp_us, last_us + 1);
    last_us = t;

    bool forced = force_keyframe_.exchange(false, std::memory_order_acq_rel);
    // x264 sees pictures only when they come; a still screen must still get its periodic IDR.
    const bool overdue = last_keyframe_us_ && t - *last_keyframe_us_ >= keyframe_max_us_;

    const std::uint32_t chroma_width = (width_ + 1) / 2;
    const std::uint32_t chroma_height = (height_ + 1) / 2;
    std::uint8_t* y = i420_.data();
    std::uint8_t* u = y + std::size_t{width_} * height_;
    std::uint8_t* v = u + std::size_t{chroma_width} * chroma_height;
    libyuv::ARGBToI420(picture.data(), static_cast<int>(picture.stride()), y,
                       static_cast<int>(width_), u, static_cast<int>(chroma_width), v,
                       static_cast<int>(chroma_width), static_cast<int>(width_),
                       static_cast<int>(height_));

    x264_picture_t in;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    in.img.plane[0] = y;
    in.img.plane[1] = u;
    in.img.plane[2] = v;
    in.img.i_stride[0] = static_cast<int>(width_);
    in.img.i_stride[1] = static_cast<int>(chroma_width);
    in.img.i_stride[2] = static_cast<int>(chroma_width);
    in.i_pts = static_cast<std::int64_t>(t);
    in.i_type = forced || overdue ? X264_TYPE_IDR : X264_TYPE_AUTO;

    x264_nal_t* nals = nullptr;
    int count = 0;
    x264_picture_t out;
    const int size = x264_encoder_encode(handle_, &nals, &count, &in, &out);
    if (size < 0) {
        if (forced)
            force_keyframe_.store(true, std::memory_order_release);
        logger()->debug("encode refused a frame ({})", size);
        sink_(core::pipeline::Dropped{});
        return;
    }
    if (size == 0) {
        sink_(core::pipeline::Dropped{});
        return;
    }
    deliver_output(size, nals, count, &out);
}

void H264Encoder::deliver_output(int frame_size, void* nals_in, int nal_count,
                                 const void* picture_out) {
    const auto* nals = static_cast<const x264_nal_t*>(nals_in);
    const auto* out = static_cast<const x264_picture_t*>(picture_out);
    if (nal_count <= 0) {
        sink_(core::pipeline::Dropped{});
        return;
    }
    core::pipeline::Frame frame;
    // x264 lays an access unit's NAL units out one after another, each with its length in front;
    // the buffer is reused by the next call, so it is copied here.
    frame.data =
        std::make_shared<const wire::Bytes>(nals[0].p_payload, nals[0].p_payload + frame_size);
    frame.keyframe = out->b_keyframe != 0;
    if (frame.keyframe) {
        frame.parameter_sets = parameter_sets_;
        last_keyframe_us_ = static_cast<std::uint64_t>(std::max<std::int64_t>(out->i_pts, 0));
    }
    frame.pts_us = static_cast<std::uint64_t>(std::max<std::int64_t>(out->i_pts, 0));
    frame.width = width_;
    frame.height = height_;
    sink_(std::move(frame));
}

}  // namespace mirravale::platform

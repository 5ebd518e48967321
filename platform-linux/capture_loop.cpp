#include "platform-linux/capture_loop.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "platform-linux/capture_source.hpp"
#include "platform-linux/content_cache.hpp"
#include "platform-linux/feeder.hpp"
#include "platform-linux/thread_name.hpp"

namespace mirravale::platform {

using Clock = std::chrono::steady_clock;

struct CaptureLoop::Control {
    Control() : wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~Control() {
        if (wake >= 0) {
            ::close(wake);
        }
    }
    void poke() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake, &one, sizeof one);
    }

    const int wake;
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    bool soon = false;
    std::optional<CaptureSettings> settings;
    std::optional<core::Display> monitor;
    std::uint64_t asked = 0;
    std::uint64_t answered = 0;
    Status answer;
    std::optional<Result<void, CaptureStartFailure>> started;
    bool finished = false;
};

namespace {

constexpr std::string_view CONNECTION_LOST = "the display server closed the connection";
constexpr std::string_view MONITOR_GONE = "the display is no longer connected";
constexpr std::string_view CAPTURE_ENDED = "the screen capture has ended";
// Reads that fail this many times in a row, with the monitor still there, end the capture.
constexpr int FAILED_READS_LIMIT = 3;

// Pictures go to the feeder, which keeps the last one; one that nobody holds any more is
// painted again instead of allocating and faulting in megabytes per frame.
class PicturePool {
  public:
    std::shared_ptr<Picture> take(std::uint32_t width, std::uint32_t height) {
        std::erase_if(pictures_, [&](const std::shared_ptr<Picture>& p) {
            return p.use_count() == 1 && (p->width() != width || p->height() != height);
        });
        for (auto& picture : pictures_) {
            if (picture.use_count() == 1) {
                // Pairs with the release of the last other reference: its reads of the pixels
                // happened before they are painted again.
                std::atomic_thread_fence(std::memory_order_acquire);
                return picture;
            }
        }
        auto picture = std::make_shared<Picture>(width, height);
        if (pictures_.size() < 3) {
            pictures_.push_back(picture);
        }
        return picture;
    }

  private:
    std::vector<std::shared_ptr<Picture>> pictures_;
};

Region area_of(const core::Display& monitor) {
    return Region{static_cast<int>(std::lround(monitor.frame.x)),
                  static_cast<int>(std::lround(monitor.frame.y)),
                  static_cast<int>(std::lround(monitor.frame.width)),
                  static_cast<int>(std::lround(monitor.frame.height))};
}

std::chrono::nanoseconds interval_of(const CaptureSettings& settings) {
    return std::chrono::nanoseconds(1'000'000'000LL / std::max<int>(settings.fps, 1));
}

class Worker {
  public:
    Worker(CaptureLoop::Control& control, CaptureSettings settings, PictureSink pictures,
           EndSink ended)
        : control_(control),
          settings_(settings),
          interval_(interval_of(settings)),
          pictures_(std::move(pictures)),
          ended_(std::move(ended)) {}

    Result<void, CaptureStartFailure> open(const std::string& display,
                                           const core::Display& monitor) {
        auto source = CaptureSource::open(display);
        if (!source) {
            return fail(CaptureStartFailure{source.error(), true});
        }
        source_ = std::move(*source);
        track(monitor);
        if (region_.empty()) {
            return fail(CaptureStartFailure{std::string(MONITOR_GONE), true});
        }
        // A new damage report starts out with the whole screen damaged; the first picture
        // covers that.
        source_->take_damage(region_);
        if (auto first = capture(); !first) {
            return fail(CaptureStartFailure{first.error(), true});
        }
        next_monitor_check_ = last_capture_ + MONITOR_CHECK_PERIOD;
        return {};
    }

    void run() {
        for (;;) {
            if (!take_requests()) {
                return;
            }
            const auto news = source_->read_events();
            damage_pending_ |= news.damage;
            if (news.cursor_shape && cursor_over_region(pointer_)) {
                dirty_ = true;
            }
            if (source_->lost()) {
                return end(std::string(CONNECTION_LOST));
            }
            motion_pending_ |= news.pointer_moved;
            auto now = Clock::now();
            if (now >= next_pointer_read()) {
                poll_pointer();
            }
            if (now >= next_monitor_check_) {
                if (auto gone = check_monitor()) {
                    return end(*gone);
                }
                next_monitor_check_ = now + MONITOR_CHECK_PERIOD;
            }
            if ((dirty_ || damage_pending_) && now >= last_capture_ + interval_) {
                if (damage_pending_) {
                    damage_pending_ = false;
                    dirty_ |= source_->take_damage(region_);
                }
                if (dirty_) {
                    if (auto captured = capture(); !captured) {
                        if (auto gone = check_monitor()) {
                            return end(*gone);
                        }
                        if (++failed_reads_ >= FAILED_READS_LIMIT) {
                            return end(captured.error());
                        }
                    }
                }
            }
            wait();
        }
    }

  private:
    // Applies what the handle asked for; false when the thread is to stop. The server is
    // asked outside the lock, so that a release never waits for the server.
    bool take_requests() {
        std::optional<CaptureSettings> settings;
        std::optional<core::Display> monitor;
        std::uint64_t ticket = 0;
        {
            std::lock_guard lock(control_.mutex);
            if (control_.stop) {
                return false;
            }
            if (control_.soon) {
                control_.soon = false;
                dirty_ = true;
            }
            if (control_.answered == control_.asked) {
                return true;
            }
            settings = std::exchange(control_.settings, std::nullopt);
            monitor = std::exchange(control_.monitor, std::nullopt);
            ticket = control_.asked;
        }
        Status answer;
        if (settings) {
            settings_ = *settings;
            interval_ = interval_of(settings_);
            dirty_ = true;
        }
        if (monitor) {
            track(*monitor);
            dirty_ = true;
            if (region_.empty()) {
                answer = fail(std::string(MONITOR_GONE));
            }
        }
        std::lock_guard lock(control_.mutex);
        control_.answer = std::move(answer);
        control_.answered = ticket;
        control_.changed.notify_all();
        return true;
    }

    void track(const core::Display& monitor) {
        area_ = area_of(monitor);
        tracked_.reset();
        if (auto monitors = source_->monitors()) {
            for (const auto& m : *monitors) {
                if (m.area == area_) {
                    tracked_ = m.name;
                    break;
                }
            }
        }
        region_ = area_.intersection(source_->root());
        failed_reads_ = 0;
    }

    // Why the capture cannot go on, if it cannot; follows the monitor when it moved.
    std::optional<std::string> check_monitor() {
        const auto monitors = source_->monitors();
        const Region root = source_->root();
        if (source_->lost()) {
            return std::string(CONNECTION_LOST);
        }
        if (tracked_ && monitors) {
            const auto found =
                std::find_if(monitors->begin(), monitors->end(),
                             [&](const MonitorArea& m) { return m.name == *tracked_; });
            if (found == monitors->end()) {
                return std::string(MONITOR_GONE);
            }
            area_ = found->area;
        }
        const Region region = area_.intersection(root);
        if (region.empty()) {
            return std::string(MONITOR_GONE);
        }
        if (region != region_) {
            region_ = region;
            dirty_ = true;
        }
        return std::nullopt;
    }

    bool cursor_over_region(const std::optional<PointerPosition>& pointer) const {
        return pointer &&
               cursor_area(source_->cursor(), pointer->x, pointer->y).intersects(region_);
    }

    // When the pointer is read next: at the frame rate while it moves or where motion is not
    // reported, else only now and then, for warps, which report no motion.
    Clock::time_point next_pointer_read() const {
        if (!source_->reports_motion() || motion_pending_) {
            return next_pointer_poll_;
        }
        return std::max(next_pointer_poll_, last_pointer_read_ + WARP_CHECK_PERIOD);
    }

    void poll_pointer() {
        note_pointer_read(Clock::now());
        const auto pointer = source_->pointer();
        if (pointer != pointer_) {
            // Moves elsewhere on the screen change nothing in this picture.
            dirty_ |= cursor_over_region(pointer_) || cursor_over_region(pointer);
            pointer_ = pointer;
        }
    }

    Status capture() {
        auto picture = pool_.take(settings_.width, settings_.height);
        // The cursor goes where the pointer is now, not where the last poll saw it.
        pointer_ = source_->pointer();
        const auto now = Clock::now();
        note_pointer_read(now);
        const std::uint64_t timestamp = monotonic_us(now);
        if (auto grabbed = source_->grab(region_, pointer_, *picture); !grabbed) {
            return grabbed;
        }
        dirty_ = false;
        failed_reads_ = 0;
        last_capture_ = now;
        pictures_(std::move(picture), timestamp);
        return {};
    }

    void note_pointer_read(Clock::time_point now) {
        motion_pending_ = false;
        last_pointer_read_ = now;
        next_pointer_poll_ = now + interval_;
    }

    void wait() {
        auto deadline = std::min(next_pointer_read(), next_monitor_check_);
        if (dirty_ || damage_pending_) {
            deadline = std::min(deadline, last_capture_ + interval_);
        }
        if (source_->flush()) {
            return;  // events already queued would not wake the descriptor
        }
        const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                               static_cast<long>(ns % 1'000'000'000)};
        pollfd waits[2] = {{source_->descriptor(), POLLIN, 0}, {control_.wake, POLLIN, 0}};
        if (ppoll(waits, 2, &timeout, nullptr) > 0 && (waits[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(control_.wake, &count, sizeof count);
        }
    }

    void end(std::string text) { ended_(text); }

    CaptureLoop::Control& control_;
    CaptureSettings settings_;
    std::chrono::nanoseconds interval_;
    PictureSink pictures_;
    EndSink ended_;
    std::unique_ptr<CaptureSource> source_;
    PicturePool pool_;
    Region area_;                           // the monitor's rectangle
    Region region_;                         // the part of it on the root window: what is captured
    std::optional<unsigned long> tracked_;  // the monitor's name, when the server lists it
    std::optional<PointerPosition> pointer_;
    Clock::time_point last_capture_{};
    Clock::time_point next_pointer_poll_{};
    Clock::time_point last_pointer_read_{};
    bool motion_pending_ = false;
    Clock::time_point next_monitor_check_{};
    bool dirty_ = false;
    bool damage_pending_ = false;
    int failed_reads_ = 0;
};

void run_thread(const std::shared_ptr<CaptureLoop::Control>& control, const std::string& display,
                const core::Display& monitor, CaptureSettings settings, PictureSink pictures,
                EndSink ended) {
    set_thread_name("mirravale-capture");
    {
        Worker worker(*control, settings, std::move(pictures), std::move(ended));
        auto opened = worker.open(display, monitor);
        const bool ok = static_cast<bool>(opened);
        {
            std::lock_guard lock(control->mutex);
            control->started = std::move(opened);
            control->changed.notify_all();
        }
        if (ok) {
            worker.run();
        }
    }
    // The connection is closed by now.
    std::lock_guard lock(control->mutex);
    control->finished = true;
    control->changed.notify_all();
}

Status ask(CaptureLoop::Control& control, std::chrono::nanoseconds limit,
           const std::function<void(CaptureLoop::Control&)>& request) {
    const auto deadline = Clock::now() + limit;
    std::unique_lock lock(control.mutex);
    if (control.finished) {
        return fail(std::string(CAPTURE_ENDED));
    }
    request(control);
    const auto ticket = ++control.asked;
    control.poke();
    const bool done = control.changed.wait_until(
        lock, deadline, [&] { return control.answered >= ticket || control.finished; });
    if (!done) {
        return fail(std::string(QUERY_TIMED_OUT));
    }
    if (control.answered < ticket) {
        return fail(std::string(CAPTURE_ENDED));
    }
    return control.answer;
}

}  // namespace

Result<std::unique_ptr<CaptureLoop>, CaptureStartFailure> CaptureLoop::start(
    const std::string& display, const core::Display& monitor, CaptureSettings settings,
    PictureSink pictures, EndSink ended, std::chrono::nanoseconds limit) {
    auto control = std::make_shared<Control>();
    if (control->wake < 0) {
        return fail(CaptureStartFailure{"could not attach to the screen stream: " +
                                        std::string(std::strerror(errno))});
    }
    std::thread thread;
    try {
        thread = std::thread(run_thread, control, display, monitor, settings, std::move(pictures),
                             std::move(ended));
    } catch (const std::system_error& error) {
        return fail(CaptureStartFailure{"could not attach to the screen stream: " +
                                        std::string(error.what())});
    }
    std::unique_ptr<CaptureLoop> loop(new CaptureLoop(control, std::move(thread)));
    std::unique_lock lock(control->mutex);
    const bool answered = control->changed.wait_until(lock, Clock::now() + limit,
                                                      [&] { return control->started.has_value(); });
    if (!answered) {
        lock.unlock();
        return fail(CaptureStartFailure{std::string(CAPTURE_START_TIMED_OUT)});
    }
    if (!*control->started) {
        auto failure = control->started->error();
        lock.unlock();
        return fail(std::move(failure));
    }
    return loop;
}

CaptureLoop::~CaptureLoop() {
    std::unique_lock lock(control_->mutex);
    control_->stop = true;
    control_->poke();
    const bool finished = control_->changed.wait_until(lock, Clock::now() + CAPTURE_STOP_LIMIT,
                                                       [&] { return control_->finished; });
    lock.unlock();
    if (finished) {
        thread_.join();
    } else {
        // Stuck in a call to a server that does not answer: it ends when the server answers or
        // the connection breaks, and touches only what it shares with this handle.
        thread_.detach();
    }
}

Status CaptureLoop::configure(CaptureSettings settings, std::chrono::nanoseconds limit) {
    return ask(*control_, limit, [&](Control& c) { c.settings = settings; });
}

Status CaptureLoop::show(const core::Display& monitor, std::chrono::nanoseconds limit) {
    return ask(*control_, limit, [&](Control& c) { c.monitor = monitor; });
}

void CaptureLoop::capture_soon() {
    std::lock_guard lock(control_->mutex);
    control_->soon = true;
    control_->poke();
}

}  // namespace mirravale::platform

#include "platform-linux/content_cache.hpp"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "platform-linux/system.hpp"
#include "platform-linux/thread_name.hpp"

namespace mirravale::platform {
namespace {

// What a query hands back; shared with its thread so that an answer after the limit lands
// somewhere harmless and is dropped.
struct Answer {
    std::mutex mutex;
    std::condition_variable ready;
    std::optional<Result<Monitors>> result;
};

}  // namespace

ContentCache::ContentCache(ContentQuery query, MonotonicClock clock, std::chrono::nanoseconds limit)
    : query_(std::move(query)),
      clock_(clock ? std::move(clock) : MonotonicClock(&std::chrono::steady_clock::now)),
      limit_(limit) {}

Result<Monitors> ContentCache::query_within_limit(const std::string& display) {
    auto answer = std::make_shared<Answer>();
    std::thread worker;
    try {
        worker = std::thread([answer, query = query_, display] {
            set_thread_name("mirravale-query");
            auto result = query(display);
            std::lock_guard lock(answer->mutex);
            answer->result = std::move(result);
            answer->ready.notify_all();
        });
    } catch (const std::system_error& error) {
        return fail(std::string(error.what()));
    }
    const auto deadline = std::chrono::steady_clock::now() + limit_;
    std::unique_lock lock(answer->mutex);
    if (!answer->ready.wait_until(lock, deadline, [&] { return answer->result.has_value(); })) {
        lock.unlock();
        // An Xlib call cannot be interrupted: the thread ends whenever the server answers or the
        // connection breaks, and its answer is thrown away.
        worker.detach();
        return fail(std::string(QUERY_TIMED_OUT));
    }
    auto result = std::move(*answer->result);
    lock.unlock();
    worker.join();
    return result;
}

Result<Monitors> ContentCache::fetch(const std::string& display, bool force) {
    std::lock_guard lock(mutex_);
    if (!force && entry_ && entry_->display == display) {
        const auto now = clock_();
        // A clock that reads earlier than the fetch cannot tell the age: the entry counts as fresh.
        if (now < entry_->fetched || std::chrono::duration_cast<std::chrono::seconds>(
                                         now - entry_->fetched) <= CONTENT_FRESH_FOR) {
            return entry_->monitors;
        }
    }
    auto result = query_within_limit(display);
    if (result) {
        entry_ = Entry{display, *result, clock_()};
    }
    return result;
}

Result<Monitors> ContentCache::fetch_for(const std::string& display, std::uint32_t id) {
    auto monitors = fetch(display, false);
    if (!monitors) {
        return monitors;
    }
    const bool listed = std::any_of(monitors->begin(), monitors->end(),
                                    [&](const core::Display& d) { return d.id == id; });
    return listed ? monitors : fetch(display, true);
}

Result<core::Display> choose_display(const Monitors& monitors, std::uint32_t id) {
    if (monitors.empty()) {
        return fail(std::string(NO_DISPLAY_LISTED));
    }
    const auto found = std::find_if(monitors.begin(), monitors.end(),
                                    [&](const core::Display& d) { return d.id == id; });
    return found != monitors.end() ? *found : monitors.front();
}

bool capture_permitted(const std::string& display) {
    auto probe = X11Permissions::open(display);
    return probe && ((*probe)->permissions().bits & core::PermissionSet::SCREEN_RECORDING) != 0;
}

std::string rewritten(std::string text, const std::string& display) {
    return capture_permitted(display) ? std::move(text) : std::string(CAPTURE_NOT_PERMITTED);
}

Result<Monitors> query_monitors(const std::string& display) {
    if (!capture_permitted(display)) {
        return fail(std::string(CAPTURE_NOT_PERMITTED));
    }
    auto directory = X11Displays::open(display);
    if (!directory) {
        return fail(rewritten(directory.error(), display));
    }
    return (*directory)->displays();
}

ContentCache& content_cache() {
    // Never destroyed: streams may start on any thread until the very end of the process.
    static ContentCache* cache = new ContentCache(&query_monitors);
    return *cache;
}

}  // namespace mirravale::platform

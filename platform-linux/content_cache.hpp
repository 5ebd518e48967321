#pragma once
// The X server's monitor list as the capture sees it, fetched at most about once a minute for
// all the streams of the process, and the choice of the monitor a plan names.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.hpp"
#include "platform-linux/feeder.hpp"
#include "wire/result.hpp"

namespace mirravale::platform {

// A fetched list stays in use while its age in whole seconds is at most this.
inline constexpr std::chrono::seconds CONTENT_FRESH_FOR{59};
inline constexpr std::chrono::seconds CONTENT_QUERY_LIMIT{5};

// Shown to the user when this process may not read the screen (190 bytes of UTF-8).
inline constexpr std::string_view CAPTURE_NOT_PERMITTED =
    "Mirravale is not allowed to record the screen. On the Mac, open System Settings \u2192 "
    "Privacy & Security \u2192 Screen & System Audio Recording, turn Mirravale on, then quit and "
    "reopen Mirravale.";

inline constexpr std::string_view QUERY_TIMED_OUT = "ScreenCaptureKit did not answer in time";
inline constexpr std::string_view NO_DISPLAY_LISTED = "ScreenCaptureKit lists no display";

using Monitors = std::vector<core::Display>;
// Asks the server named (empty: $DISPLAY) for its monitors; may block for as long as it likes.
using ContentQuery = std::function<Result<Monitors>(const std::string& display)>;

class ContentCache {
  public:
    // `limit` bounds how long a fetch waits for the query; `clock` decides freshness.
    explicit ContentCache(ContentQuery query, MonotonicClock clock = {},
                          std::chrono::nanoseconds limit = CONTENT_QUERY_LIMIT);

    // The cached list when it is fresh and of the same server, unless `force`; otherwise a new
    // query, kept only when it succeeds. Fetches of the process wait for each other.
    Result<Monitors> fetch(const std::string& display, bool force);
    // A fetch; when its list lacks `id`, one forced fetch more, whatever it gives.
    Result<Monitors> fetch_for(const std::string& display, std::uint32_t id);

  private:
    Result<Monitors> query_within_limit(const std::string& display);

    ContentQuery query_;
    MonotonicClock clock_;
    std::chrono::nanoseconds limit_;
    std::mutex mutex_;
    struct Entry {
        std::string display;
        Monitors monitors;
        std::chrono::steady_clock::time_point fetched;
    };
    std::optional<Entry> entry_;
};

// The monitor with `id`, else the first listed.
Result<core::Display> choose_display(const Monitors& monitors, std::uint32_t id);

// Whether this process may read the screen of `display`: it opens and a 1x1 picture of its root
// window can be read.
bool capture_permitted(const std::string& display);
// `text`, or the permission sentence when capture is not permitted.
std::string rewritten(std::string text, const std::string& display);

// The server's own query: the permission sentence when capture is not permitted, else the
// monitor list of the display directory.
Result<Monitors> query_monitors(const std::string& display);

// The one cache of the process, on the server's own query.
ContentCache& content_cache();

}  // namespace mirravale::platform

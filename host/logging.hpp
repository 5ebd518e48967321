#pragma once
// The program's log output: one line per event on standard output, filtered per target by the
// directives in MIRRAVALE_LOG ("info", "debug,mirravale::store=warn").

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <spdlog/common.h>
#include <spdlog/formatter.h>
#include <spdlog/sinks/sink.h>

#include "wire/result.hpp"

namespace mirravale::host {

using Level = spdlog::level::level_enum;

inline constexpr const char* LOG_FILTER_VARIABLE = "MIRRAVALE_LOG";

struct TargetLevel {
    std::string target;
    Level level;
    friend bool operator==(const TargetLevel&, const TargetLevel&) = default;
};

// Which events pass. A target directive covers that target and the targets below it
// ("mirravale" covers "mirravale::ui::login", not "mirravale_core::session"); the most
// specific one wins. Targets no directive covers get `fallback` (off when the directives name
// targets only, as in "mirravale::store=debug").
struct LogFilter {
    Level fallback = Level::info;
    std::vector<TargetLevel> targets;

    Level level_of(std::string_view target) const;
    friend bool operator==(const LogFilter&, const LogFilter&) = default;
};

// Comma-separated entries, each `level` or `target=level`; levels are trace, debug, info, warn,
// error and off in any case. Empty entries are skipped; no entries at all means INFO. Nothing
// when any entry is malformed.
std::optional<LogFilter> parse_log_directives(std::string_view directives);

// The filter for the variable's value (null when unset): malformed or absent gives INFO.
LogFilter log_filter_from(const char* value);

// Colours stay on unless NO_COLOR holds a non-empty value (null when unset).
bool use_colour(const char* no_color);

// One line per event: UTC time stamp, level, target, message (fields already in it).
std::unique_ptr<spdlog::formatter> make_line_formatter();

// A sink writing lines to `file`, flushed per event, with the level coloured when asked.
spdlog::sink_ptr make_line_sink(std::FILE* file, bool colour);

// Installs logging for the whole process from the environment. Done once, before anything
// logs; a second call fails.
Status install_logging();

// Routes a message of a library's own logging into ours under `target`.
void log_library_message(std::string_view target, Level level, std::string_view text);

}  // namespace mirravale::host

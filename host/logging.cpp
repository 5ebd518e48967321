#include "host/logging.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <exception>

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/spdlog.h>

#include "core/log.hpp"

namespace mirravale::host {
namespace {

std::string_view trim(std::string_view text) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<Level> parse_level(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "trace")
        return Level::trace;
    if (lower == "debug")
        return Level::debug;
    if (lower == "info")
        return Level::info;
    if (lower == "warn")
        return Level::warn;
    if (lower == "error")
        return Level::err;
    if (lower == "off")
        return Level::off;
    return std::nullopt;
}

// A module path: segments of letters, digits, '_', '-' or '.', joined by "::".
bool is_target(std::string_view text) {
    if (text.empty() || text.starts_with(':') || text.ends_with(':')) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == ':') {
            if (i + 1 >= text.size() || text[i + 1] != ':' ||
                (i + 2 < text.size() && text[i + 2] == ':')) {
                return false;
            }
            ++i;
        } else if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

bool covers(std::string_view directive, std::string_view target) {
    return target.starts_with(directive) &&
           (target.size() == directive.size() || target.substr(directive.size()).starts_with("::"));
}

// The level as an upper-case word, right-aligned to five columns and marked for colour.
class LevelFlag final : public spdlog::custom_flag_formatter {
  public:
    void format(const spdlog::details::log_msg& msg, const std::tm&,
                spdlog::memory_buf_t& dest) override {
        std::string_view word;
        switch (msg.level) {
            case Level::trace:
                word = "TRACE";
                break;
            case Level::debug:
                word = "DEBUG";
                break;
            case Level::info:
                word = " INFO";
                break;
            case Level::warn:
                word = " WARN";
                break;
            default:
                word = "ERROR";
                break;
        }
        const auto start = dest.size() + static_cast<std::size_t>(word.find_first_not_of(' '));
        dest.append(word.data(), word.data() + word.size());
        msg.color_range_start = start;
        msg.color_range_end = dest.size();
    }
    std::unique_ptr<custom_flag_formatter> clone() const override {
        return std::make_unique<LevelFlag>();
    }
};

}  // namespace

Level LogFilter::level_of(std::string_view target) const {
    const TargetLevel* best = nullptr;
    for (const auto& directive : targets) {
        if (covers(directive.target, target) &&
            (best == nullptr || directive.target.size() >= best->target.size())) {
            best = &directive;
        }
    }
    return best != nullptr ? best->level : fallback;
}

std::optional<LogFilter> parse_log_directives(std::string_view directives) {
    LogFilter filter{.fallback = Level::off, .targets = {}};
    bool any = false;
    while (true) {
        const auto comma = directives.find(',');
        const std::string_view entry = trim(directives.substr(0, comma));
        if (!entry.empty()) {
            any = true;
            const auto equals = entry.find('=');
            if (equals == std::string_view::npos) {
                const auto level = parse_level(entry);
                if (!level) {
                    return std::nullopt;
                }
                filter.fallback = *level;
            } else {
                const std::string_view target = trim(entry.substr(0, equals));
                const auto level = parse_level(trim(entry.substr(equals + 1)));
                if (!level || !is_target(target)) {
                    return std::nullopt;
                }
                // A repeated target: the later entry wins, as with levels.
                std::erase_if(filter.targets,
                              [&](const TargetLevel& t) { return t.target == target; });
                filter.targets.push_back({std::string(target), *level});
            }
        }
        if (comma == std::string_view::npos) {
            break;
        }
        directives.remove_prefix(comma + 1);
    }
    if (!any) {
        return LogFilter{};
    }
    return filter;
}

LogFilter log_filter_from(const char* value) {
    if (value == nullptr) {
        return LogFilter{};
    }
    return parse_log_directives(value).value_or(LogFilter{});
}

bool use_colour(const char* no_color) {
    return no_color == nullptr || no_color[0] == '\0';
}

std::unique_ptr<spdlog::formatter> make_line_formatter() {
    auto formatter = std::make_unique<spdlog::pattern_formatter>(spdlog::pattern_time_type::utc);
    formatter->add_flag<LevelFlag>('*').set_pattern("%Y-%m-%dT%H:%M:%S.%fZ %* %n: %v");
    return formatter;
}

spdlog::sink_ptr make_line_sink(std::FILE* file, bool colour) {
    auto sink = std::make_shared<spdlog::sinks::ansicolor_sink<spdlog::details::console_mutex>>(
        file, colour ? spdlog::color_mode::always : spdlog::color_mode::never);
    sink->set_formatter(make_line_formatter());
    return sink;
}

Status install_logging() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) {
        return fail("logging is already installed");
    }
    try {
        const LogFilter filter = log_filter_from(std::getenv(LOG_FILTER_VARIABLE));
        const spdlog::sink_ptr sink = make_line_sink(stdout, use_colour(std::getenv("NO_COLOR")));

        auto fallback = std::make_shared<spdlog::logger>("", sink);
        fallback->set_level(filter.fallback);
        spdlog::set_default_logger(fallback);
        // Loggers made before now (there should be none) move to the same output.
        spdlog::apply_all([&](const std::shared_ptr<spdlog::logger>& logger) {
            logger->sinks().assign(1, sink);
        });
        spdlog::set_formatter(make_line_formatter());
        log::set_level_of([filter](std::string_view target) { return filter.level_of(target); });
        return {};
    } catch (const std::exception& error) {
        return fail(std::string("cannot set up logging: ") + error.what());
    }
}

void log_library_message(std::string_view target, Level level, std::string_view text) {
    log::get(target)->log(level, spdlog::string_view_t(text.data(), text.size()));
}

}  // namespace mirravale::host

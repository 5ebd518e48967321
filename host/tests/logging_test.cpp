#include "host/logging.hpp"

#include <gtest/gtest.h>
#include <spdlog/details/log_msg.h>
#include <spdlog/spdlog.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "core/log.hpp"

namespace mirravale::host {
namespace {

LogFilter only(Level fallback, std::vector<TargetLevel> targets = {}) {
    return LogFilter{.fallback = fallback, .targets = std::move(targets)};
}

struct DirectiveCase {
    const char* text;
    std::optional<LogFilter> expected;
};

TEST(LogDirectives, Table) {
    const DirectiveCase cases[] = {
        {"info", only(Level::info)},
        {"debug", only(Level::debug)},
        {"TRACE", only(Level::trace)},
        {"Warn", only(Level::warn)},
        {"error", only(Level::err)},
        {"off", only(Level::off)},
        {"", only(Level::info)},
        {" , ,", only(Level::info)},
        {"debug,", only(Level::debug)},
        {"info,debug", only(Level::debug)},
        {"debug,mirravale::store=warn", only(Level::debug, {{"mirravale::store", Level::warn}})},
        {" debug , mirravale::store = warn ",
         only(Level::debug, {{"mirravale::store", Level::warn}})},
        {"mirravale=trace", only(Level::off, {{"mirravale", Level::trace}})},
        {"a=info,a=error", only(Level::off, {{"a", Level::err}})},
        {"qt.qpa-xcb=warn", only(Level::off, {{"qt.qpa-xcb", Level::warn}})},
        {"verbose", std::nullopt},
        {"warning", std::nullopt},
        {"mirravale", std::nullopt},
        {"info,nonsense", std::nullopt},
        {"=debug", std::nullopt},
        {"mirravale=", std::nullopt},
        {"mirravale=loud", std::nullopt},
        {"a=b=debug", std::nullopt},
        {"mirravale:store=debug", std::nullopt},
        {"mirravale:::store=debug", std::nullopt},
        {"mirravale::=debug", std::nullopt},
        {"::store=debug", std::nullopt},
        {"my target=debug", std::nullopt},
        {"mirravale[span]=debug", std::nullopt},
        {"3", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_log_directives(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(LogDirectives, MalformedOrAbsentMeansInfo) {
    EXPECT_EQ(log_filter_from(nullptr), only(Level::info));
    EXPECT_EQ(log_filter_from("debug,=x"), only(Level::info));
    EXPECT_EQ(log_filter_from("debug"), only(Level::debug));
}

TEST(LogFilterLevel, MostSpecificTargetOnWholeSegments) {
    const LogFilter filter = *parse_log_directives(
        "warn,mirravale=debug,mirravale::ui=error,mirravale::ui::login=trace");
    const std::pair<const char*, Level> cases[] = {
        {"mirravale", Level::debug},      {"mirravale::store", Level::debug},
        {"mirravale::ui", Level::err},    {"mirravale::ui::login", Level::trace},
        {"mirravale::uix", Level::debug}, {"mirravale_core::session", Level::warn},
        {"mirravalex", Level::warn},      {"", Level::warn},
    };
    for (const auto& [target, level] : cases) {
        EXPECT_EQ(filter.level_of(target), level) << target;
    }
    EXPECT_EQ(parse_log_directives("mirravale::store=debug")->level_of("mirravale"), Level::off);
}

TEST(Colour, OffOnlyWhenNoColorHasAValue) {
    EXPECT_TRUE(use_colour(nullptr));
    EXPECT_TRUE(use_colour(""));
    EXPECT_FALSE(use_colour("1"));
    EXPECT_FALSE(use_colour("0"));
    EXPECT_FALSE(use_colour(" "));
}

// Everything a sink wrote to an in-memory file.
class Captured {
  public:
    Captured() : file_(open_memstream(&data_, &size_)) {}
    ~Captured() {
        std::fclose(file_);
        std::free(data_);
    }
    std::FILE* file() { return file_; }
    std::string text() {
        std::fflush(file_);
        return std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

// A fixed moment: 1970-01-02 03:04:05.123456 UTC.
spdlog::details::log_msg message_at_fixed_time(Level level, std::string_view text) {
    const auto when =
        spdlog::log_clock::time_point(std::chrono::duration_cast<spdlog::log_clock::duration>(
            std::chrono::microseconds(97'445'123'456)));
    return spdlog::details::log_msg(when, {}, "mirravale::store", level,
                                    spdlog::string_view_t(text.data(), text.size()));
}

TEST(LogLine, UtcStampLevelTargetMessage) {
    // The stamp must not follow the local zone.
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    setenv("TZ", "XYZ-5", 1);
    tzset();

    const std::pair<Level, const char*> cases[] = {
        {Level::trace, "TRACE"}, {Level::debug, "DEBUG"}, {Level::info, " INFO"},
        {Level::warn, " WARN"},  {Level::err, "ERROR"},   {Level::critical, "ERROR"},
    };
    for (const auto& [level, word] : cases) {
        Captured out;
        make_line_sink(out.file(), false)->log(message_at_fixed_time(level, "saved count=2"));
        EXPECT_EQ(out.text(), std::string("1970-01-02T03:04:05.123456Z ") + word +
                                  " mirravale::store: saved count=2\n");
    }

    if (zone) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(LogLine, ColourWrapsTheLevelOnly) {
    Captured out;
    make_line_sink(out.file(), true)->log(message_at_fixed_time(Level::warn, "careful"));
    EXPECT_EQ(out.text(),
              "1970-01-02T03:04:05.123456Z  \x1b[33m\x1b[1mWARN\x1b[m mirravale::store: careful\n");
}

TEST(LibraryMessages, ReachTheLoggerOfTheirTarget) {
    Captured out;
    auto logger =
        std::make_shared<spdlog::logger>("test.library", make_line_sink(out.file(), false));
    logger->set_level(Level::trace);
    spdlog::register_logger(logger);

    log_library_message("test.library", Level::warn, "font {} missing");
    spdlog::drop("test.library");

    EXPECT_TRUE(std::regex_match(out.text(),
                                 std::regex(R"(\S+Z  WARN test\.library: font \{\} missing\n)")))
        << out.text();
}

// Runs install_logging in a child with the given environment and returns what it printed on
// standard output; the child logs one event per level on two targets.
std::string run_installed(const char* filter, const char* no_color) {
    int pipe_ends[2];
    EXPECT_EQ(pipe(pipe_ends), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipe_ends[1], STDOUT_FILENO);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        filter ? setenv(LOG_FILTER_VARIABLE, filter, 1) : unsetenv(LOG_FILTER_VARIABLE);
        no_color ? setenv("NO_COLOR", no_color, 1) : unsetenv("NO_COLOR");
        // Made before the install: must still follow the filter and reach standard output.
        auto early = log::get("mirravale::store");
        if (!install_logging().ok() || install_logging().ok()) {
            _exit(3);
        }
        for (auto* logger : {early.get(), log::get("mirravale_core::session").get()}) {
            logger->debug("d");
            logger->info("i");
            logger->error("e");
        }
        _exit(0);
    }
    close(pipe_ends[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return output;
}

// The lines of `output` reduced to "LEVEL target: message".
std::string without_stamps(const std::string& output) {
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z +)",
                                  std::regex::multiline);
    return std::regex_replace(output, stamp, "");
}

TEST(InstalledLogging, FollowsTheEnvironment) {
    struct Case {
        const char* filter;
        const char* no_color;
        std::string expected;
    };
    const Case cases[] = {
        {nullptr, "1",
         "INFO mirravale::store: i\nERROR mirravale::store: e\n"
         "INFO mirravale_core::session: i\nERROR mirravale_core::session: e\n"},
        {"debug,mirravale::store=error", "yes",
         "ERROR mirravale::store: e\n"
         "DEBUG mirravale_core::session: d\nINFO mirravale_core::session: i\n"
         "ERROR mirravale_core::session: e\n"},
        {"mirravale=debug", "1",
         "DEBUG mirravale::store: d\nINFO mirravale::store: i\nERROR mirravale::store: e\n"},
        {"debug,bogus", "1",
         "INFO mirravale::store: i\nERROR mirravale::store: e\n"
         "INFO mirravale_core::session: i\nERROR mirravale_core::session: e\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(without_stamps(run_installed(c.filter, c.no_color)), c.expected) << c.filter;
    }

    const std::string coloured = run_installed("error", "");
    EXPECT_NE(coloured.find("\x1b[31m\x1b[1mERROR\x1b[m mirravale::store: e\n"), std::string::npos)
        << coloured;
    EXPECT_NE(run_installed("error", nullptr).find("\x1b[31m"), std::string::npos);
}

}  // namespace
}  // namespace mirravale::host

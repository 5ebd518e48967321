#pragma once
// What one log target says during a test.

#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <spdlog/sinks/ostream_sink.h>

#include "core/log.hpp"

namespace mirravale::host::testing {

// Catches every event of one target, down to DEBUG, while it lives, one line each as `pattern`
// lays it out (spdlog's flags; by default "level target message").
class LogCapture {
  public:
    explicit LogCapture(std::string_view target, const std::string& pattern = "%l %n %v")
        : logger_(log::get(target)),
          sink_(std::make_shared<spdlog::sinks::ostream_sink_mt>(lines_)),
          saved_sinks_(logger_->sinks()),
          saved_level_(logger_->level()) {
        sink_->set_pattern(pattern);
        logger_->sinks() = {sink_};
        logger_->set_level(spdlog::level::debug);
    }
    ~LogCapture() {
        logger_->sinks() = saved_sinks_;
        logger_->set_level(saved_level_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string lines() const { return lines_.str(); }

  private:
    std::shared_ptr<spdlog::logger> logger_;
    std::ostringstream lines_;
    std::shared_ptr<spdlog::sinks::ostream_sink_mt> sink_;
    std::vector<spdlog::sink_ptr> saved_sinks_;
    spdlog::level::level_enum saved_level_;
};

}  // namespace mirravale::host::testing

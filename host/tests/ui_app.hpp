#pragma once
// The one QApplication of a test process, on the offscreen platform, made on first use. Every
// interface test asks for it here, so a process never makes two.

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <spdlog/sinks/ostream_sink.h>
#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QString>

#include "core/log.hpp"

namespace mirravale::host::testing {

inline QApplication& qt_app() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    // Chosen on the command line rather than in the environment, which programs started by
    // other tests of this process inherit.
    static int argc = 3;
    static char name[] = "host_tests";
    static char option[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    // Deleted by the test environment of ui_app.cpp before the process exits: at exit Qt's own
    // globals (the input device list among them) may already be gone.
    return *new QApplication(argc, argv);
}

// Pictures a person can look at after the run, beside the built programs.
inline std::filesystem::path screenshot_dir() {
    const auto dir =
        std::filesystem::path(MIRRAVALE_BIN).parent_path().parent_path() / "screenshots";
    std::filesystem::create_directories(dir);
    return dir;
}

// Catches every event of one target, down to DEBUG, while it lives: "level target message".
class LogCapture {
  public:
    explicit LogCapture(std::string_view target)
        : logger_(log::get(target)),
          sink_(std::make_shared<spdlog::sinks::ostream_sink_mt>(lines_)),
          saved_sinks_(logger_->sinks()),
          saved_level_(logger_->level()) {
        sink_->set_pattern("%l %n %v");
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

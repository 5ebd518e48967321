#pragma once
// The one QApplication of a test process, on the offscreen platform, made on first use. Every
// interface test asks for it here, so a process never makes two.

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QString>

#include "host/tests/log_capture.hpp"

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

}  // namespace mirravale::host::testing

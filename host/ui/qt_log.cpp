#include "host/ui/qt_log.hpp"

#include <string_view>

#include <QString>

#include "core/log.hpp"

namespace mirravale::host::ui {

namespace {

spdlog::level::level_enum level_of(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return spdlog::level::debug;
        case QtInfoMsg:
            return spdlog::level::info;
        case QtWarningMsg:
            return spdlog::level::warn;
        case QtCriticalMsg:
        case QtFatalMsg:
            return spdlog::level::err;
    }
    return spdlog::level::warn;
}

}  // namespace

void log_qt_message(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const std::string_view category =
        context.category != nullptr ? std::string_view(context.category) : "default";
    const auto logger = log::get("mirravale::ui");
    logger->log(level_of(type), "{} category={}", message.toStdString(), category);
    if (type == QtFatalMsg) {
        // Qt ends the process after a fatal message; get the line out first.
        logger->flush();
    }
}

void route_qt_messages() {
    qInstallMessageHandler(log_qt_message);
}

}  // namespace mirravale::host::ui

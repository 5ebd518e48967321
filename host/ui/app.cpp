#include "host/ui/app.hpp"

#include <unistd.h>

#include <QApplication>
#include <QSystemTrayIcon>

#include "host/ui/controller.hpp"
#include "host/ui/login.hpp"
#include "host/ui/qt_log.hpp"
#include "platform-linux/x11_connection.hpp"

namespace mirravale::host::ui {

namespace {

// Qt ends the process when its platform cannot start, so make sure first that it will.
Status interface_available() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform.startsWith("xcb")) {
        if (auto connection = platform::X11Connection::open(); !connection) {
            return fail("no display to show the interface on: " + connection.error());
        }
        return {};
    }
    if (platform.startsWith("wayland") && qgetenv("WAYLAND_DISPLAY").isEmpty()) {
        return fail("no display to show the interface on: WAYLAND_DISPLAY is not set");
    }
    // Any other platform was asked for by name; trust that it can run.
    return {};
}

}  // namespace

Status run_desktop(const DesktopContext& context) {
    if (getpid() != gettid()) {
        return fail("the desktop interface runs on the main thread");
    }
    if (auto available = interface_available(); !available) {
        return available;
    }
    route_qt_messages();

    // Qt keeps referring to these for the application's whole life.
    static int argc = 1;
    static char name[] = "mirravale";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mirravale"));
    QGuiApplication::setDesktopFileName(QStringLiteral("mirravale"));
    // The window only hides when closed; what ends the program is decided by the controller.
    QApplication::setQuitOnLastWindowClosed(false);

    ControllerParts parts;
    parts.service = context.service;
    parts.displays = context.displays;
    parts.guide_platform = x11_guide_platform(context.permissions);
    parts.login = OpenAtLogin::for_this_program();
    parts.tray = QSystemTrayIcon::isSystemTrayAvailable();
    Controller controller(std::move(parts));
    controller.start();
    QApplication::exec();
    return {};
}

}  // namespace mirravale::host::ui

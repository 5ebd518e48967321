#pragma once
// The one object behind the desktop interface: it owns the tray icon and its menu, the pairing
// window and the permission guide, receives every menu and button action, and brings all of
// them up to date from the service's latest status twice a second. Main thread only.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include "core/service.hpp"
#include "host/ui/guide_panel.hpp"
#include "host/ui/login.hpp"
#include "host/ui/pairing_window.hpp"
#include "platform-linux/system.hpp"

namespace mirravale::host::ui {

inline constexpr std::chrono::milliseconds REFRESH_INTERVAL{500};

struct ControllerParts {
    std::shared_ptr<core::HostService> service;
    // Where screen names are published; null without an X server.
    std::shared_ptr<platform::X11Displays> displays;
    std::unique_ptr<GuidePlatform> guide_platform;
    OpenAtLogin login = OpenAtLogin::unusable("no autostart place was given");
    // The desktop shows tray icons. Without one the window is the only way in, and closing it
    // quits the program.
    bool tray = true;
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
};

class Controller final : public QObject {
  public:
    // Builds the tray icon, its menu, the window's shortcuts, the window and the guide, all
    // hidden; nothing is refreshed yet.
    explicit Controller(ControllerParts parts);
    ~Controller() override;

    // Shows the tray icon, refreshes once, shows the window, publishes the screen names and starts
    // the timer.
    void start();

    // Brings every element up to date from the service's latest status.
    void refresh();
    void publish_display_names();

    // The actions behind the menu items and buttons.
    void show_pairing();
    void new_code();
    void disconnect_phone();
    void forget_devices();
    void copy_link();
    void allow(platform::Permission which);
    void toggle_open_at_login();

    PairingWindow& window() { return *window_; }
    PermissionGuide& guide() { return *guide_; }
    QMenu& menu() { return *menu_; }
    QSystemTrayIcon* tray() { return tray_.get(); }  // null without a tray
    QAction* waiting_item() { return waiting_item_; }
    QAction* disconnect_item() { return disconnect_item_; }
    QAction* login_item() { return login_item_; }
    // The window's own commands: "Close Window" and "Quit Mirravale".
    QList<QAction*> window_actions() const;

  private:
    void build_menu();
    void build_tray();
    void build_window_actions();
    void connect_window();

    std::shared_ptr<core::HostService> service_;
    std::shared_ptr<platform::X11Displays> displays_;
    OpenAtLogin login_;
    bool has_tray_;
    std::function<std::chrono::steady_clock::time_point()> now_;

    std::optional<core::HostStatus> last_status_;
    std::optional<std::chrono::steady_clock::time_point> copied_at_;

    std::unique_ptr<PairingWindow> window_;
    std::unique_ptr<PermissionGuide> guide_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;  // after the menu it shows
    QAction* waiting_item_ = nullptr;
    QAction* disconnect_item_ = nullptr;
    QAction* login_item_ = nullptr;
    QTimer timer_;
};

}  // namespace mirravale::host::ui

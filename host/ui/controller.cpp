#include "host/ui/controller.hpp"

#include <utility>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QKeySequence>

#include "host/ui/icons.hpp"
#include "host/ui/screen_names.hpp"
#include "host/ui/status_lines.hpp"
#include "host/ui/texts.hpp"

namespace mirravale::host::ui {

namespace {

// Menu titles read "&" as a shortcut marker; a phone's name may hold one.
QString menu_text(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

const QKeySequence QUIT_KEYS(Qt::CTRL | Qt::Key_Q);
const QKeySequence CLOSE_KEYS(Qt::CTRL | Qt::Key_W);

}  // namespace

Controller::Controller(ControllerParts parts)
    : service_(std::move(parts.service)),
      displays_(std::move(parts.displays)),
      login_(std::move(parts.login)),
      has_tray_(parts.tray),
      now_(std::move(parts.now)) {
    const QIcon app_icon = application_icon();
    build_menu();
    if (has_tray_) {
        build_tray();
    }
    window_ = std::make_unique<PairingWindow>(app_icon);
    window_->set_only_way_in(!has_tray_);
    guide_ = std::make_unique<PermissionGuide>(std::move(parts.guide_platform), app_icon, now_);
    build_window_actions();
    connect_window();
    timer_.setInterval(REFRESH_INTERVAL);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        refresh();
        publish_display_names();
    });
}

Controller::~Controller() = default;

void Controller::build_menu() {
    menu_ = std::make_unique<QMenu>();
    // Items are enabled by the refresh alone, not by Qt.
    waiting_item_ = menu_->addAction(ui::tr("Waiting for your iPhone"));
    waiting_item_->setEnabled(false);
    menu_->addSeparator();
    menu_->addAction(ui::tr("Show Pairing Code…"), this, [this] { show_pairing(); });
    menu_->addAction(ui::tr("Copy Pairing Link"), this, [this] { copy_link(); });
    disconnect_item_ =
        menu_->addAction(ui::tr("Disconnect Phone"), this, [this] { disconnect_phone(); });
    disconnect_item_->setEnabled(false);
    menu_->addAction(ui::tr("Forget All Paired Devices"), this, [this] { forget_devices(); });
    menu_->addSeparator();
    login_item_ =
        menu_->addAction(ui::tr("Open at Login"), this, [this] { toggle_open_at_login(); });
    login_item_->setCheckable(true);
    menu_->addSeparator();
    QAction* quit =
        menu_->addAction(ui::tr("Quit Mirravale"), this, [] { QCoreApplication::quit(); });
    quit->setShortcut(QUIT_KEYS);
}

void Controller::build_tray() {
    tray_ = std::make_unique<QSystemTrayIcon>();
    if (const auto picture = tray_template()) {
        tray_->setIcon(
            QIcon(tint_template(*picture, QApplication::palette().color(QPalette::WindowText))));
    } else {
        // A tray cannot show a title; the application's own picture stands in.
        tray_->setIcon(application_icon());
    }
    tray_->setToolTip(QStringLiteral("Mirravale"));
    tray_->setContextMenu(menu_.get());
    // A plain click opens the menu too, as a menu-bar item does.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) {
                             menu_->popup(QCursor::pos());
                         }
                     });
}

void Controller::build_window_actions() {
    // The window's own menu: reachable by its shortcuts and by a right click on the window.
    auto* close = new QAction(ui::tr("Close Window"), window_.get());
    close->setShortcut(CLOSE_KEYS);
    QObject::connect(close, &QAction::triggered, window_.get(), &QWidget::close);
    auto* quit = new QAction(ui::tr("Quit Mirravale"), window_.get());
    quit->setShortcut(QUIT_KEYS);
    QObject::connect(quit, &QAction::triggered, this, [] { QCoreApplication::quit(); });
    window_->addAction(close);
    window_->addAction(quit);
    window_->setContextMenuPolicy(Qt::ActionsContextMenu);
}

QList<QAction*> Controller::window_actions() const {
    return window_->actions();
}

void Controller::connect_window() {
    PairingWindow* w = window_.get();
    QObject::connect(w->copy_button(), &QPushButton::clicked, this, [this] { copy_link(); });
    QObject::connect(w->new_code_button(), &QPushButton::clicked, this, [this] { new_code(); });
    QObject::connect(w->disconnect_button(), &QPushButton::clicked, this,
                     [this] { disconnect_phone(); });
    QObject::connect(w->forget_button(), &QPushButton::clicked, this, [this] { forget_devices(); });
    QObject::connect(w->screen_allow_button(), &QPushButton::clicked, this,
                     [this] { allow(platform::Permission::ScreenRecording); });
    QObject::connect(w->access_allow_button(), &QPushButton::clicked, this,
                     [this] { allow(platform::Permission::Accessibility); });
    if (!has_tray_) {
        // Nothing else would bring the window back.
        QObject::connect(w, &PairingWindow::closed, this, [] { QCoreApplication::quit(); });
    }
}

void Controller::start() {
    if (tray_) {
        tray_->show();
    }
    refresh();
    show_pairing();
    publish_display_names();
    timer_.start();
}

void Controller::refresh() {
    core::HostStatus status = service_->status().latest().first;
    const std::optional<core::HostStatus> previous = std::exchange(last_status_, status);

    window_->update_top(status, previous, service_->now());
    guide_->refresh(status.permissions);
    const bool copied = copied_at_ && std::chrono::duration_cast<std::chrono::seconds>(
                                          now_() - *copied_at_) <= std::chrono::seconds(1);
    window_->update_bottom(status, copied);

    waiting_item_->setText(menu_text(connection_line(status)));
    disconnect_item_->setEnabled(status.controller.has_value());
    login_item_->setChecked(login_.enabled());
}

void Controller::publish_display_names() {
    if (!displays_) {
        return;
    }
    displays_->set_names(names_for_screens(current_screens(), displays_->displays()));
}

void Controller::show_pairing() {
    if (window_->isMinimized()) {
        window_->showNormal();
    } else {
        window_->show();
    }
    window_->raise();
    window_->activateWindow();
}

void Controller::new_code() {
    service_->new_code();
    refresh();
}

void Controller::disconnect_phone() {
    // The session's release shows up at the next timer tick.
    service_->disconnect();
}

void Controller::forget_devices() {
    service_->forget_all_devices();
    refresh();
}

void Controller::copy_link() {
    const std::string link = service_->status().latest().first.invite_url;
    QGuiApplication::clipboard()->setText(QString::fromStdString(link));
    copied_at_ = now_();
    refresh();
}

void Controller::allow(platform::Permission which) {
    guide_->allow(which);
}

void Controller::toggle_open_at_login() {
    login_.toggle();
    refresh();
}

}  // namespace mirravale::host::ui

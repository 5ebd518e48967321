#include "host/ui/pairing_window.hpp"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWindow>

#include "core/log.hpp"
#include "core/ports.hpp"
#include "host/ui/qr_image.hpp"
#include "host/ui/status_lines.hpp"
#include "host/ui/texts.hpp"

namespace mirravale::host::ui {

namespace {

const QColor GREEN{52, 199, 89};
const QColor WAITING = QColor::fromRgbF(1.0f, 0.478f, 0.349f);
constexpr int QR_SIDE = 250;
constexpr int FADE_MS = 450;
constexpr int PULSE_MS = 500;
// The dot is 10 wide and the text starts 8 after it.
constexpr int DOT_AND_GAP = 18;
constexpr int MARGIN = 20;

// Text colours are shades of the palette's own text colour, so they read on its background
// whether the desktop is light or dark.
constexpr double LABEL = 0.85;
constexpr double SECONDARY = 0.5;
constexpr double TERTIARY = 0.3;

QColor text_colour(double alpha) {
    QColor colour = QApplication::palette().color(QPalette::WindowText);
    colour.setAlphaF(static_cast<float>(alpha));
    return colour;
}

void set_text_colour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QFont font(int pixels, bool bold) {
    QFont f = QApplication::font();
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// Labels never read their text as markup: phone names and notices come from outside.
QLabel* label(QWidget* parent, const QString& text, int pixels, bool bold, Qt::Alignment align,
              QRect frame) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font(pixels, bold));
    l->setAlignment(align | Qt::AlignVCenter);
    l->setGeometry(frame);
    return l;
}

// The layout was drawn for a narrower system font than most desktops have: a fixed text that
// would not fit its frame gets a smaller size rather than being cut.
void shrink_to_fit(QLabel* l) {
    QFont f = l->font();
    while (f.pixelSize() > 9 &&
           QFontMetricsF(f).horizontalAdvance(l->text()) > l->contentsRect().width()) {
        f.setPixelSize(f.pixelSize() - 1);
    }
    l->setFont(f);
}

QPushButton* button(QWidget* parent, const QString& text, QRect frame) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(frame);
    return b;
}

// A rounded box filled with one colour.
QFrame* box(QWidget* parent, QRect frame, int radius, const QColor& fill) {
    auto* f = new QFrame(parent);
    f->setGeometry(frame);
    f->setStyleSheet(QStringLiteral("QFrame { background-color: %1; border: none; border-radius: "
                                    "%2px; }")
                         .arg(fill.name(QColor::HexArgb))
                         .arg(radius));
    return f;
}

QGraphicsOpacityEffect* opacity_of(QWidget* widget) {
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(1.0);
    widget->setGraphicsEffect(effect);
    return effect;
}

}  // namespace

QRect from_bottom_left(int x, int y, int width, int height) {
    return {x, WINDOW_HEIGHT - y - height, width, height};
}

StatusPlacement place_status(double text_width) {
    const int w = static_cast<int>(std::ceil(text_width));
    const int x = std::max(MARGIN, (WINDOW_WIDTH - w - DOT_AND_GAP) / 2);
    return {x, x + DOT_AND_GAP, w + 4};
}

double pulse_target(bool connected, double current) {
    if (connected) {
        return 1.0;
    }
    return current >= 0.7 ? 0.3 : 1.0;
}

PairingWindow::PairingWindow(const QIcon& app_icon) {
    setWindowTitle(QStringLiteral("Mirravale"));
    setWindowIcon(app_icon);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    setFixedSize(WINDOW_WIDTH, WINDOW_HEIGHT);

    icon_ = new QLabel(this);
    icon_->setGeometry(from_bottom_left(168, 624, 64, 64));
    icon_->setPixmap(app_icon.pixmap(QSize(64, 64), devicePixelRatioF()));
    icon_->setAlignment(Qt::AlignCenter);

    title_ = label(this, ui::tr("Control this Mac from your iPhone"), 19, true, Qt::AlignHCenter,
                   from_bottom_left(20, 592, 360, 26));
    subtitle_ = label(this, ui::tr("Open Mirravale on your iPhone and scan this code."), 13, false,
                      Qt::AlignHCenter, from_bottom_left(20, 572, 360, 18));
    set_text_colour(subtitle_, text_colour(SECONDARY));
    shrink_to_fit(title_);
    shrink_to_fit(subtitle_);

    card_ = box(this, from_bottom_left(65, 288, 270, 270), 18, Qt::white);
    auto* shadow = new QGraphicsDropShadowEffect(card_);
    shadow->setBlurRadius(16);
    shadow->setOffset(0, 4);  // downwards
    shadow->setColor(QColor(0, 0, 0, 56));
    card_->setGraphicsEffect(shadow);

    qr_view_ = new QLabel(this);
    qr_view_->setGeometry(from_bottom_left(75, 298, QR_SIDE, QR_SIDE));
    qr_view_->setAlignment(Qt::AlignCenter);
    qr_opacity_ = opacity_of(qr_view_);
    qr_fade_ = new QPropertyAnimation(qr_opacity_, "opacity", this);

    copy_button_ = button(this, ui::tr("Copy Link"), from_bottom_left(130, 248, 140, 28));

    status_dot_ = new QFrame(this);
    status_dot_->setGeometry(from_bottom_left(0, 221, 10, 10));
    dot_opacity_ = opacity_of(status_dot_);
    dot_pulse_ = new QPropertyAnimation(dot_opacity_, "opacity", this);
    status_label_ = label(this, {}, 15, true, Qt::AlignLeft, from_bottom_left(20, 216, 360, 20));
    detail_label_ =
        label(this, {}, 11, false, Qt::AlignHCenter, from_bottom_left(20, 198, 360, 16));
    set_text_colour(detail_label_, text_colour(SECONDARY));
    show_status(ui::tr("Waiting for your iPhone"), false);

    permissions_box_ = box(this, from_bottom_left(20, 110, 360, 74), 12, QColor(128, 128, 128, 26));
    const auto allowed = [this](QRect frame) {
        auto* l = label(this, {}, 12, false, Qt::AlignRight, frame);
        set_text_colour(l, GREEN);
        return l;
    };
    screen_row_ = label(this, ui::tr("Screen Recording — to show the screen"), 12, false,
                        Qt::AlignLeft, from_bottom_left(34, 152, 240, 18));
    screen_allowed_ = allowed(from_bottom_left(266, 152, 100, 18));
    screen_allow_ = button(this, ui::tr("Allow…"), from_bottom_left(266, 148, 100, 28));
    access_row_ = label(this, ui::tr("Accessibility — to click and type"), 12, false, Qt::AlignLeft,
                        from_bottom_left(34, 122, 240, 18));
    access_allowed_ = allowed(from_bottom_left(266, 122, 100, 18));
    access_allow_ = button(this, ui::tr("Allow…"), from_bottom_left(266, 118, 100, 28));
    shrink_to_fit(screen_row_);
    shrink_to_fit(access_row_);

    new_code_ = button(this, ui::tr("New Code"), from_bottom_left(20, 64, 112, 30));
    disconnect_ = button(this, ui::tr("Disconnect"), from_bottom_left(144, 64, 112, 30));
    disconnect_->setEnabled(false);
    forget_ = button(this, ui::tr("Forget Devices"), from_bottom_left(268, 64, 112, 30));

    devices_ = label(this, {}, 11, false, Qt::AlignHCenter, from_bottom_left(20, 36, 360, 16));
    set_text_colour(devices_, text_colour(SECONDARY));
    footer_ =
        label(this, footer_line(), 11, false, Qt::AlignHCenter, from_bottom_left(20, 16, 360, 16));
    set_text_colour(footer_, text_colour(TERTIARY));
    shrink_to_fit(footer_);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void PairingWindow::update_top(const core::HostStatus& status,
                               const std::optional<core::HostStatus>& previous, std::uint64_t now) {
    if (!previous || previous->invite_url != status.invite_url) {
        show_link(status.invite_url, previous.has_value());
    }
    // Once the phone is in control the window is out of the way; it stays hidden afterwards.
    if (previous && !previous->controller && status.controller) {
        if (only_way_in_) {
            showMinimized();
        } else {
            hide();
        }
    }
    show_status(window_status_line(status), status.controller.has_value());
    detail_label_->setText(detail_line(status, now));

    const auto row = [](bool granted, QLabel* allowed, QPushButton* allow) {
        allowed->setText(granted ? ui::tr("Allowed ✓") : QString());
        allowed->setVisible(granted);
        allow->setVisible(!granted);
    };
    row(status.permissions.has(core::PermissionSet::SCREEN_RECORDING), screen_allowed_,
        screen_allow_);
    row(status.permissions.has(core::PermissionSet::ACCESSIBILITY), access_allowed_, access_allow_);
}

void PairingWindow::update_bottom(const core::HostStatus& status, bool copied) {
    disconnect_->setEnabled(status.controller.has_value());
    copy_button_->setText(ui::tr(copied ? "Copied ✓" : "Copy Link"));
    devices_->setText(devices_line(status));
}

void PairingWindow::show_link(const std::string& link, bool fade) {
    // A link that cannot be drawn leaves the previous picture in place.
    auto image = ui::qr_image(link);
    if (!image) {
        return;
    }
    log::get("mirravale::ui")->debug("pairing link: {}", link);
    qr_ = std::move(*image);
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(qr_).scaled(QSize(QR_SIDE, QR_SIDE) * ratio,
                                                    Qt::KeepAspectRatio, Qt::SmoothTransformation);
    pixmap.setDevicePixelRatio(ratio);
    qr_view_->setPixmap(pixmap);

    qr_fade_->stop();
    if (fade) {
        qr_opacity_->setOpacity(0.0);
        qr_fade_->setDuration(FADE_MS);
        qr_fade_->setStartValue(0.0);
        qr_fade_->setEndValue(1.0);
        qr_fade_->start();
    } else {
        qr_opacity_->setOpacity(1.0);
    }
}

void PairingWindow::show_status(const QString& text, bool connected) {
    status_label_->setText(text);
    if (dot_connected_ != connected) {
        dot_connected_ = connected;
        set_text_colour(status_label_, connected ? GREEN : text_colour(LABEL));
        const QColor dot = connected ? GREEN : WAITING;
        status_dot_->setStyleSheet(
            QStringLiteral("QFrame { background-color: %1; border: none; border-radius: 5px; }")
                .arg(dot.name(QColor::HexRgb)));
    }

    const auto place = place_status(status_label_->sizeHint().width());
    status_dot_->move(place.dot_x, status_dot_->y());
    status_label_->setGeometry(place.label_x, status_label_->y(), place.label_width,
                               status_label_->height());

    // Pulses while waiting (one second per cycle at the half-second refresh); solid when
    // connected.
    const double current = dot_opacity_->opacity();
    dot_target_ = pulse_target(connected, current);
    dot_pulse_->stop();
    if (!isVisible()) {
        // Nobody sees it: no animation ticking sixty times a second while in the tray.
        dot_opacity_->setOpacity(dot_target_);
        return;
    }
    dot_pulse_->setDuration(PULSE_MS);
    dot_pulse_->setStartValue(current);
    dot_pulse_->setEndValue(dot_target_);
    dot_pulse_->start();
}

double PairingWindow::dot_opacity() const {
    return dot_opacity_->opacity();
}

double PairingWindow::dot_opacity_target() const {
    return dot_target_;
}

double PairingWindow::qr_opacity() const {
    return qr_opacity_->opacity();
}

void PairingWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    emit closed();
}

void PairingWindow::mousePressEvent(QMouseEvent* event) {
    // The background moves the window, as a title bar would.
    if (event->button() == Qt::LeftButton && windowHandle() != nullptr) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

}  // namespace mirravale::host::ui

#include "host/ui/guide_panel.hpp"

#include <QDrag>
#include <QFont>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include "host/ui/login.hpp"
#include "host/ui/texts.hpp"

namespace mirravale::host::ui {

namespace {

core::Rect to_rect(const QRect& r) {
    return {double(r.x()), double(r.y()), double(r.width()), double(r.height())};
}

QFont font_of(int pixels, bool bold) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

class X11GuidePlatform final : public GuidePlatform {
  public:
    explicit X11GuidePlatform(std::shared_ptr<platform::X11Permissions> permissions)
        : permissions_(std::move(permissions)) {}
    core::PermissionSet permissions() override {
        return permissions_ ? permissions_->permissions() : core::PermissionSet{};
    }
    void open_settings(platform::Permission which, std::chrono::nanoseconds delay) override {
        if (permissions_) {
            permissions_->open_settings(which, delay);
        }
    }
    std::optional<core::Rect> settings_window() override {
        return permissions_ ? permissions_->settings_window() : std::nullopt;
    }

  private:
    std::shared_ptr<platform::X11Permissions> permissions_;
};

}  // namespace

std::optional<QUrl> application_url() {
    const auto program = this_program();
    if (!program) {
        return std::nullopt;
    }
    return QUrl::fromLocalFile(QString::fromStdString(*program));
}

std::unique_ptr<QMimeData> application_drag_data() {
    const auto url = application_url();
    if (!url) {
        return nullptr;
    }
    auto data = std::make_unique<QMimeData>();
    data->setUrls({*url});
    return data;
}

DragIcon::DragIcon(const QIcon& icon, QWidget* parent) : QLabel(parent), icon_(icon) {
    setPixmap(icon_.pixmap(QSize(64, 64), devicePixelRatioF()));
    setScaledContents(false);
    setAlignment(Qt::AlignCenter);
    setToolTip(ui::tr("Drag into the list"));
}

void DragIcon::mousePressEvent(QMouseEvent* event) {
    // Taken here, so that pressing on the icon never moves the panel.
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    auto data = application_drag_data();
    if (!data) {
        return;
    }
    QDrag drag(this);  // runs its own event loop until the drop
    drag.setMimeData(data.release());
    drag.setPixmap(icon_.pixmap(size(), devicePixelRatioF()));
    drag.setHotSpot(event->position().toPoint());
    drag.exec(Qt::CopyAction, Qt::CopyAction);
}

GuidePanel::GuidePanel(const QIcon& app_icon)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Mirravale"));
    setWindowIcon(app_icon);
    setFixedSize(int(GUIDE_WIDTH), int(GUIDE_HEIGHT));
    // A helper beside another program's window: it must not take the focus from it.
    setAttribute(Qt::WA_ShowWithoutActivating);

    icon_ = new DragIcon(app_icon, this);
    icon_->setGeometry(20, 30, 64, 64);

    title_ = new QLabel(ui::tr("Drag Mirravale into the list"), this);
    title_->setFont(font_of(14, true));
    title_->setGeometry(100, 24, 284, 18);

    explanation_ =
        new QLabel(ui::tr("Drag this icon into the list, then switch Mirravale on. Already "
                          "there but not working? Remove it with \u2212, then drag it in "
                          "again."),
                   this);
    explanation_->setFont(font_of(12, false));
    explanation_->setWordWrap(true);
    explanation_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    explanation_->setGeometry(100, 46, 284, 58);
    QPalette secondary = explanation_->palette();
    QColor text = secondary.color(QPalette::WindowText);
    text.setAlphaF(0.6);
    secondary.setColor(QPalette::WindowText, text);
    explanation_->setPalette(secondary);
}

void GuidePanel::mousePressEvent(QMouseEvent* event) {
    // Dragging the background moves the panel, as its title bar would: through the window
    // manager when there is one that can, else by following the pointer here.
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    if (windowHandle() == nullptr || !windowHandle()->startSystemMove()) {
        grabbed_at_ = event->globalPosition().toPoint() - pos();
    }
}

void GuidePanel::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (grabbed_at_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *grabbed_at_);
    }
}

void GuidePanel::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    grabbed_at_.reset();
}

std::unique_ptr<GuidePlatform> x11_guide_platform(
    std::shared_ptr<platform::X11Permissions> permissions) {
    return std::make_unique<X11GuidePlatform>(std::move(permissions));
}

PermissionGuide::PermissionGuide(std::unique_ptr<GuidePlatform> platform, const QIcon& app_icon,
                                 Now now)
    : platform_(std::move(platform)),
      panel_(std::make_unique<GuidePanel>(app_icon)),
      now_(std::move(now)),
      guide_(now_()) {}

void PermissionGuide::allow(platform::Permission which) {
    const auto flag = which == platform::Permission::ScreenRecording
                          ? core::PermissionSet::SCREEN_RECORDING
                          : core::PermissionSet::ACCESSIBILITY;
    if (platform_->permissions().has(flag)) {
        return;  // already granted: no settings, no guide
    }
    platform_->open_settings(which, SETTINGS_DELAY);
    if (guide_.request(which, now_())) {
        panel_->show();
        panel_->raise();
    }
}

void PermissionGuide::refresh(core::PermissionSet granted) {
    GuideView view;
    view.permissions = granted;
    view.panel_visible = panel_->isVisible();
    view.panel_origin = {double(panel_->x()), double(panel_->y())};
    if (guide_.state() != GuideState::Idle) {
        view.settings_window = platform_->settings_window();
        // Primary first, as the placement expects.
        const QScreen* primary = QGuiApplication::primaryScreen();
        if (primary != nullptr) {
            view.screens.push_back(
                {to_rect(primary->geometry()), to_rect(primary->availableGeometry())});
            view.main_visible = to_rect(primary->availableGeometry());
        }
        for (const QScreen* screen : QGuiApplication::screens()) {
            if (screen != primary) {
                view.screens.push_back(
                    {to_rect(screen->geometry()), to_rect(screen->availableGeometry())});
            }
        }
    }
    const GuideStep step = guide_.refresh(view, now_());
    if (step.hide) {
        panel_->hide();
        return;
    }
    if (step.move_to) {
        panel_->move(qRound(step.move_to->x), qRound(step.move_to->y));
    }
    if (step.bring_to_front) {
        panel_->show();
        panel_->raise();
    }
}

}  // namespace mirravale::host::ui

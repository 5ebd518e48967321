#pragma once
// The permission guide on screen: a small floating panel holding the application's icon, which
// the user drags into the system's list, and the driver that ties it to the "Allow…" buttons and
// the interface refresh.
//
// The controller builds one `PermissionGuide` at set-up, calls `allow` from the two "Allow…"
// buttons and `refresh` from its refresh with the latest status's permissions. Texts go through
// `tr`, so the language must be decidable when the panel is built.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QIcon>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include "core/ports.hpp"
#include "host/ui/guide.hpp"
#include "platform-linux/system.hpp"

namespace mirravale::host::ui {

// The application's own file, as dragged from the panel; absent when it cannot be found.
std::optional<QUrl> application_url();

// What a drag of the application carries: the application's file URL.
std::unique_ptr<QMimeData> application_drag_data();

// The icon in the panel: pressing it starts a drag of the application (a copy) instead of
// moving the panel.
class DragIcon final : public QLabel {
  public:
    explicit DragIcon(const QIcon& icon, QWidget* parent);

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QIcon icon_;
};

// 400 x 124, floating above other windows, shown without taking the focus, movable by dragging
// its background. Closing it only hides it.
class GuidePanel final : public QWidget {
  public:
    explicit GuidePanel(const QIcon& app_icon);

    DragIcon* icon() const { return icon_; }
    QLabel* title() const { return title_; }
    QLabel* explanation() const { return explanation_; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    std::optional<QPoint> grabbed_at_;  // where the background was pressed, while moved by hand
    DragIcon* icon_;
    QLabel* title_;
    QLabel* explanation_;
};

// What the guide needs of the platform.
class GuidePlatform {
  public:
    virtual ~GuidePlatform() = default;
    virtual core::PermissionSet permissions() = 0;
    // Returns at once; the settings open after `delay`.
    virtual void open_settings(platform::Permission which, std::chrono::nanoseconds delay) = 0;
    virtual std::optional<core::Rect> settings_window() = 0;
};

// The X11 adapter behind `GuidePlatform`; with no adapter (no X server) nothing is granted,
// nothing opens and there is no settings window.
std::unique_ptr<GuidePlatform> x11_guide_platform(
    std::shared_ptr<platform::X11Permissions> permissions);

// Settings open this long after the request, so that a prompt of the system's own comes first.
inline constexpr std::chrono::nanoseconds SETTINGS_DELAY = std::chrono::milliseconds(1800);

class PermissionGuide {
  public:
    using Now = std::function<Guide::Clock::time_point()>;

    PermissionGuide(std::unique_ptr<GuidePlatform> platform, const QIcon& app_icon,
                    Now now = Guide::Clock::now);

    // An "Allow…" button: when the permission is still missing, opens the settings after
    // SETTINGS_DELAY and starts the guide for it. Does not refresh; the next refresh places
    // and shows the panel.
    void allow(platform::Permission which);

    // The guide's part of the interface refresh.
    void refresh(core::PermissionSet granted);

    GuidePanel& panel() { return *panel_; }
    const Guide& guide() const { return guide_; }

  private:
    std::unique_ptr<GuidePlatform> platform_;
    std::unique_ptr<GuidePanel> panel_;
    Now now_;
    Guide guide_;
};

}  // namespace mirravale::host::ui

#pragma once
// The pairing window: a fixed 400 x 722 window with the pairing QR code, the connection status,
// the countdown or stream, the two permission rows, the paired devices and the buttons. The
// controller builds it once, connects the buttons and brings it up to date at every refresh.

#include <cstdint>
#include <optional>
#include <string>

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "core/status.hpp"

class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace mirravale::host::ui {

inline constexpr int WINDOW_WIDTH = 400;
inline constexpr int WINDOW_HEIGHT = 722;

// The window's frames are laid out from its bottom-left corner, y growing upwards; Qt's origin
// is the top-left corner.
QRect from_bottom_left(int x, int y, int width, int height);

// Where the status line goes: dot and text centred together, never closer than 20 to the left
// edge. `text_width` is the text's natural width.
struct StatusPlacement {
    int dot_x;
    int label_x;
    int label_width;
    friend bool operator==(const StatusPlacement&, const StatusPlacement&) = default;
};
StatusPlacement place_status(double text_width);

// The dot's next opacity: solid when connected, else alternating between 1.0 and 0.3.
double pulse_target(bool connected, double current);

class PairingWindow final : public QWidget {
    Q_OBJECT

  public:
    // Built hidden and centred on the primary screen.
    explicit PairingWindow(const QIcon& app_icon);

    // Refresh, first part: the QR image (rebuilt only when the link changed, faded in unless
    // this is the first refresh), hiding when a phone has just connected, the status and detail
    // lines and the permission rows. `now` is the wall clock in Unix seconds.
    void update_top(const core::HostStatus& status, const std::optional<core::HostStatus>& previous,
                    std::uint64_t now);
    // Where the window is the only way into the program (no tray), a phone's arrival
    // minimises it instead of hiding it, so it can still be found.
    void set_only_way_in(bool only) { only_way_in_ = only; }

    // Refresh, last part: the disconnect button, the copy feedback and the devices line.
    void update_bottom(const core::HostStatus& status, bool copied);

    QLabel* icon() const { return icon_; }
    QLabel* title() const { return title_; }
    QLabel* subtitle() const { return subtitle_; }
    QFrame* card() const { return card_; }
    QLabel* qr_view() const { return qr_view_; }
    QPushButton* copy_button() const { return copy_button_; }
    QFrame* status_dot() const { return status_dot_; }
    QLabel* status_label() const { return status_label_; }
    QLabel* detail_label() const { return detail_label_; }
    QFrame* permissions_box() const { return permissions_box_; }
    QLabel* screen_row() const { return screen_row_; }
    QLabel* screen_allowed_label() const { return screen_allowed_; }
    QPushButton* screen_allow_button() const { return screen_allow_; }
    QLabel* access_row() const { return access_row_; }
    QLabel* access_allowed_label() const { return access_allowed_; }
    QPushButton* access_allow_button() const { return access_allow_; }
    QPushButton* new_code_button() const { return new_code_; }
    QPushButton* disconnect_button() const { return disconnect_; }
    QPushButton* forget_button() const { return forget_; }
    QLabel* devices_label() const { return devices_; }
    QLabel* footer() const { return footer_; }

    // The QR code shown, at its own size; null before the first link.
    const QImage& qr_image() const { return qr_; }
    // The dot's opacity as it is drawn now, and where its running animation ends.
    double dot_opacity() const;
    double dot_opacity_target() const;
    // The QR view's opacity as drawn now (below 1 while a new code fades in).
    double qr_opacity() const;

  signals:
    // The user closed the window (it is only hidden).
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void show_link(const std::string& link, bool fade);
    void show_status(const QString& text, bool connected);

    QLabel* icon_;
    QLabel* title_;
    QLabel* subtitle_;
    QFrame* card_;
    QLabel* qr_view_;
    QPushButton* copy_button_;
    QFrame* status_dot_;
    QLabel* status_label_;
    QLabel* detail_label_;
    QFrame* permissions_box_;
    QLabel* screen_row_;
    QLabel* screen_allowed_;
    QPushButton* screen_allow_;
    QLabel* access_row_;
    QLabel* access_allowed_;
    QPushButton* access_allow_;
    QPushButton* new_code_;
    QPushButton* disconnect_;
    QPushButton* forget_;
    QLabel* devices_;
    QLabel* footer_;

    QImage qr_;
    QGraphicsOpacityEffect* qr_opacity_;
    QPropertyAnimation* qr_fade_;
    QGraphicsOpacityEffect* dot_opacity_;
    QPropertyAnimation* dot_pulse_;
    double dot_target_ = 1.0;
    std::optional<bool> dot_connected_;  // the colours last applied
    bool only_way_in_ = false;
};

}  // namespace mirravale::host::ui

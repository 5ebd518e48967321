#include "host/ui/screen_names.hpp"

#include <cmath>

#include <QGuiApplication>
#include <QScreen>

namespace mirravale::host::ui {

namespace {

bool same_rect(const QRect& a, const core::Rect& b) {
    return a.x() == std::lround(b.x) && a.y() == std::lround(b.y) &&
           a.width() == std::lround(b.width) && a.height() == std::lround(b.height);
}

std::string screen_name(const QScreen& screen) {
    const QString model = screen.model().trimmed();
    const QString maker = screen.manufacturer().trimmed();
    if (model.isEmpty()) {
        return screen.name().toStdString();
    }
    if (maker.isEmpty() || model.startsWith(maker, Qt::CaseInsensitive)) {
        return model.toStdString();
    }
    return (maker + QLatin1Char(' ') + model).toStdString();
}

}  // namespace

platform::DisplayNames names_for_screens(const std::vector<ScreenEntry>& screens,
                                         const std::vector<core::Display>& displays) {
    platform::DisplayNames names;
    std::vector<bool> taken(displays.size(), false);
    for (const auto& screen : screens) {
        for (std::size_t i = 0; i < displays.size(); ++i) {
            if (!taken[i] && same_rect(screen.geometry, displays[i].frame)) {
                taken[i] = true;
                // A blank name would replace a useful default ("Display 1") with nothing.
                if (!screen.name.empty()) {
                    names.emplace_back(displays[i].id, screen.name);
                }
                break;
            }
        }
    }
    return names;
}

std::vector<ScreenEntry> current_screens() {
    std::vector<ScreenEntry> entries;
    for (const QScreen* screen : QGuiApplication::screens()) {
        // Under scaling Qt keeps a screen's corner in device pixels and divides its size.
        const QRect logical = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        const QRect native(logical.topLeft(), (QSizeF(logical.size()) * ratio).toSize());
        entries.push_back({screen_name(*screen), native});
    }
    return entries;
}

}  // namespace mirravale::host::ui

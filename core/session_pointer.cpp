// Pointer messages become positions on the displays; the pointer is reported back to the phone.

#include <algorithm>

#include "core/session_state.hpp"

namespace mirravale::core::session {

std::optional<Display> Session::target_display() const {
    if (display_) {
        return display_;
    }
    for (const auto& d : displays_) {
        if (d.main) {
            return d;
        }
    }
    if (!displays_.empty()) {
        return displays_.front();
    }
    return std::nullopt;
}

void Session::move_pointer(Point point) {
    pointer_target_ = {point, Clock::now()};
    service_->ports().input->inject(input::MoveTo{point.x, point.y});
}

asio::awaitable<void> Session::pointer_absolute(float x, float y) {
    const auto target = target_display();
    if (!target) {
        co_return;
    }
    const auto& f = target->frame;
    const Point point{f.x + std::clamp(double(x), 0.0, 1.0) * f.width,
                      f.y + std::clamp(double(y), 0.0, 1.0) * f.height};
    move_pointer(f.clamp(point));
}

asio::awaitable<void> Session::pointer_relative(float dx, float dy) {
    const auto target = target_display();
    if (!target) {
        co_return;
    }
    const auto& f = target->frame;
    Point base = f.centre();
    if (pointer_target_ && Clock::now() - pointer_target_->second < POINTER_TARGET_FRESH) {
        base = pointer_target_->first;
    } else if (auto cursor = service_->ports().input->cursor_position()) {
        base = *cursor;
    }
    const Point point{base.x + dx * f.width, base.y + dy * f.height};
    const auto neighbour = neighbour_at(point);
    if (!neighbour) {
        move_pointer(f.clamp(point));
        co_return;
    }
    move_pointer(neighbour->frame.clamp(point));
    if (streaming_) {
        auto request = request_;
        request.display_id = neighbour->id;
        co_await start_stream(request);
    } else {
        for (const auto& d : displays_) {
            if (d.id == neighbour->id) {
                display_ = d;
            }
        }
    }
}

std::optional<Display> Session::neighbour_at(Point point) const {
    if (!follow_) {
        return std::nullopt;
    }
    const auto current = target_display();
    if (!current || current->frame.contains(point)) {
        return std::nullopt;
    }
    for (const auto& d : displays_) {
        if (d.id != current->id && d.frame.contains(point)) {
            return d;
        }
    }
    return std::nullopt;
}

void Session::send_cursor() {
    if (!display_) {
        return;
    }
    const auto position = service_->ports().input->cursor_position();
    if (!position) {
        return;
    }
    const auto& f = display_->frame;
    CursorReport report;
    if (f.width > 0 && f.height > 0) {
        report.x = std::clamp(static_cast<float>((position->x - f.x) / f.width), 0.0f, 1.0f);
        report.y = std::clamp(static_cast<float>((position->y - f.y) / f.height), 0.0f, 1.0f);
        report.inside = f.contains(*position);
    }
    if (last_cursor_ == report) {
        return;
    }
    if (offer({wire::host::Cursor{report.x, report.y, report.inside}})) {
        last_cursor_ = report;
    }
}

}  // namespace mirravale::core::session

// Pointer messages become positions on the displays; the pointer is reported back to the phone.

#include "core/geometry.hpp"
#include "core/policy.hpp"
#include "core/session_state.hpp"

namespace mirravale::core::session {

std::optional<Display> Session::target_display() const {
    return pointer_display(displays_, display_);
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
    move_pointer(absolute_point(target->frame, x, y));
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
    const Point point = relative_point(base, f, dx, dy);
    const auto neighbour = neighbour_at(displays_, display_, follow_, point);
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

void Session::send_cursor() {
    if (!display_) {
        return;
    }
    const auto position = service_->ports().input->cursor_position();
    if (!position) {
        return;
    }
    const auto report = cursor_report(display_->frame, *position);
    if (last_cursor_ == report) {
        return;
    }
    if (offer({wire::host::Cursor{report.x, report.y, report.inside}})) {
        last_cursor_ = report;
    }
}

}  // namespace mirravale::core::session

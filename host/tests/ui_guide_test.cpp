#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScreen>

#include "host/tests/ui_app.hpp"
#include "host/ui/guide.hpp"
#include "host/ui/guide_panel.hpp"
#include "host/ui/guide_placement.hpp"
#include "host/ui/icons.hpp"
#include "host/ui/login.hpp"
#include "host/ui/texts.hpp"

namespace mirravale::host::ui {
namespace {

using namespace std::chrono_literals;
using core::PermissionSet;
using core::Point;
using core::Rect;
using platform::Permission;

// A 1920 x 1080 screen with a 32-point panel along its top.
const ScreenArea WIDE{{0, 0, 1920, 1080}, {0, 32, 1920, 1048}};
// A second screen to the right of it, without panels.
const ScreenArea RIGHT{{1920, 0, 1280, 1024}, {1920, 0, 1280, 1024}};

struct PlacementCase {
    std::string name;
    Rect window;
    std::vector<ScreenArea> screens;
    std::optional<Point> expected;
};

class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, PutsThePanelWhereItBelongs) {
    const auto& c = GetParam();
    const auto place = place_beside(c.window, c.screens);
    ASSERT_EQ(place.has_value(), c.expected.has_value());
    if (place) {
        EXPECT_DOUBLE_EQ(place->x, c.expected->x);
        EXPECT_DOUBLE_EQ(place->y, c.expected->y);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Guide, Placement,
    ::testing::Values(
        // Centred 12 under the window: x = 660 + 300 - 200.
        PlacementCase{"Below", {660, 200, 600, 500}, {WIDE}, Point{760, 712}},
        // Exactly 8 left under the panel still counts as room below: 1080 - 8 - 124 - 12.
        PlacementCase{"BelowAtTheLastPoint", {660, 200, 600, 736}, {WIDE}, Point{760, 948}},
        // One point less room: beside it, bottoms aligned (937 - 124).
        PlacementCase{"BesideRight", {660, 200, 600, 737}, {WIDE}, Point{1272, 813}},
        // Touching the bottom of the screen: beside it, raised 8 off the bottom.
        PlacementCase{"BesideRightRaised", {100, 300, 700, 780}, {WIDE}, Point{812, 948}},
        // 1800 + 12 + 400 > 1920: to the left, bottoms aligned.
        PlacementCase{"BesideLeft", {1300, 300, 500, 700}, {WIDE}, Point{888, 876}},
        // Left of the window would leave the screen: clamped to its 8-point margin.
        PlacementCase{"ClampedLeft", {100, 100, 1700, 980}, {WIDE}, Point{8, 948}},
        // Centred under a window hanging over the right edge: clamped to 1920 - 400 - 8.
        PlacementCase{"ClampedRight", {1700, 100, 400, 300}, {WIDE}, Point{1512, 412}},
        // A window reaching below the screen: the panel is raised onto it.
        PlacementCase{"RaisedOntoTheScreen", {200, 700, 500, 600}, {WIDE}, Point{712, 948}},
        // A screen narrower than the panel: x stays at the margin.
        PlacementCase{"NarrowScreen",
                      {0, 0, 300, 200},
                      {ScreenArea{{0, 0, 320, 480}, {0, 0, 320, 480}}},
                      Point{8, 212}},
        // The window's centre is on the second screen: its visible area rules, so the panel
        // left of the window is clamped to that screen's margin, not the first one's.
        PlacementCase{"SecondScreen", {2200, 100, 800, 870}, {WIDE, RIGHT}, Point{1928, 846}},
        // Centre on no screen: the primary (first) one rules.
        PlacementCase{"OffEveryScreen", {5000, 100, 400, 300}, {WIDE, RIGHT}, Point{1512, 412}},
        PlacementCase{"NoScreens", {660, 200, 600, 500}, {}, std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(GuidePlacement, ScreenEdgesBelongToTheLeftAndUpperScreen) {
    // Two screens stacked, the lower one narrower: the centre on their shared line must count
    // for the upper one (the panel fits right of the window on it, not on the lower one).
    const ScreenArea upper{{0, 0, 2000, 1000}, {0, 0, 2000, 1000}};
    const ScreenArea lower{{0, 1000, 700, 1000}, {0, 1000, 700, 1000}};
    const auto place = place_beside({0, 500, 400, 1000}, {lower, upper});
    ASSERT_TRUE(place);
    EXPECT_DOUBLE_EQ(place->x, 412);
    // A centre exactly on a left edge belongs to the screen starting there: clamped to its
    // margin rather than placed left of the window on the first screen.
    const auto right = place_beside({1000, 100, 1840, 1000}, {WIDE, RIGHT});
    ASSERT_TRUE(right);
    EXPECT_DOUBLE_EQ(right->x, 1928);
}

TEST(GuidePlacement, FallbackIsCentred40AboveTheVisibleBottom) {
    const Point p = place_fallback(WIDE.visible);
    EXPECT_DOUBLE_EQ(p.x, 760);
    EXPECT_DOUBLE_EQ(p.y, 1080 - 40 - 124);
}

TEST(GuidePlacement, MovesOfHalfAPointOrLessAreNotWorthIt) {
    EXPECT_FALSE(worth_moving({100, 100}, {100.5, 99.5}));
    EXPECT_TRUE(worth_moving({100, 100}, {100.51, 100}));
    EXPECT_TRUE(worth_moving({100, 100}, {100, 99.4}));
}

// The state machine, driven by a clock of its own.
class GuideMachine : public ::testing::Test {
  protected:
    Guide::Clock::time_point t0{};
    Guide guide{t0};

    GuideView view(PermissionSet granted = {}) {
        GuideView v;
        v.permissions = granted;
        v.panel_visible = guide.shown();
        v.panel_origin = origin;
        v.settings_window = settings;
        v.screens = {WIDE};
        v.main_visible = WIDE.visible;
        return v;
    }
    GuideStep refresh(Guide::Clock::duration at, PermissionSet granted = {}) {
        GuideStep step = guide.refresh(view(granted), t0 + at);
        if (step.move_to) {
            origin = *step.move_to;
        }
        return step;
    }

    Point origin{0, 0};
    std::optional<Rect> settings;
};

const PermissionSet SCREEN{PermissionSet::SCREEN_RECORDING};
const PermissionSet ACCESS{PermissionSet::ACCESSIBILITY};

TEST_F(GuideMachine, StartsIdleAndStaysSoWithoutARequest) {
    EXPECT_EQ(guide.state(), GuideState::Idle);
    EXPECT_FALSE(guide.shown());
    EXPECT_EQ(refresh(10s), GuideStep{});
    EXPECT_EQ(guide.state(), GuideState::Idle);
}

TEST_F(GuideMachine, WithoutASettingsWindowFallsBackJustAfterFourSeconds) {
    EXPECT_FALSE(guide.request(Permission::ScreenRecording, t0 + 1s));
    EXPECT_EQ(guide.state(), GuideState::ScreenRecording);
    EXPECT_EQ(refresh(1s), GuideStep{});
    EXPECT_EQ(refresh(5s), GuideStep{});  // exactly 4 s: not yet
    EXPECT_FALSE(guide.shown());
    const GuideStep step = refresh(5s + 1ms);
    EXPECT_EQ(step, (GuideStep{false, Point{760, 916}, true}));
    EXPECT_TRUE(guide.shown());
    // Shown at the fallback place, it is left there.
    EXPECT_EQ(refresh(6s), GuideStep{});
}

TEST_F(GuideMachine, FallbackWithoutAScreenShowsWithoutMoving) {
    guide.request(Permission::Accessibility, t0);
    GuideView v = view();
    v.screens.clear();
    v.main_visible.reset();
    EXPECT_EQ(guide.refresh(v, t0 + 5s), (GuideStep{false, std::nullopt, true}));
}

TEST_F(GuideMachine, FollowsTheSettingsWindowAndIgnoresTinyMoves) {
    guide.request(Permission::Accessibility, t0);
    settings = Rect{660, 200, 600, 500};
    EXPECT_EQ(refresh(500ms), (GuideStep{false, Point{760, 712}, true}));
    EXPECT_EQ(refresh(1s), GuideStep{});  // already there, already shown
    settings->x += 0.5;
    EXPECT_EQ(refresh(1500ms), GuideStep{});
    settings->x += 100;
    EXPECT_EQ(refresh(2s), (GuideStep{false, Point{860.5, 712}, false}));
    // Once a settings window has shown up, losing it leaves the panel where it is.
    settings.reset();
    EXPECT_EQ(refresh(10s), GuideStep{});
}

TEST_F(GuideMachine, GrantingTheRequestedPermissionHidesThePanel) {
    guide.request(Permission::ScreenRecording, t0);
    refresh(5s);
    ASSERT_TRUE(guide.shown());
    EXPECT_EQ(refresh(5500ms, ACCESS), GuideStep{});  // the other permission changes nothing
    EXPECT_EQ(guide.state(), GuideState::ScreenRecording);
    EXPECT_EQ(refresh(6s, SCREEN), (GuideStep{true, std::nullopt, false}));
    EXPECT_EQ(guide.state(), GuideState::Idle);
    EXPECT_FALSE(guide.shown());
}

TEST_F(GuideMachine, GrantedBeforeEverShowingStillEndsTheRequest) {
    guide.request(Permission::Accessibility, t0);
    EXPECT_TRUE(refresh(1s, ACCESS).hide);
    EXPECT_EQ(guide.state(), GuideState::Idle);
    EXPECT_EQ(refresh(10s), GuideStep{});
}

TEST_F(GuideMachine, ClosingTheShownPanelStopsTheGuideUntilTheNextRequest) {
    guide.request(Permission::ScreenRecording, t0);
    refresh(5s);
    GuideView closed = view();
    closed.panel_visible = false;
    EXPECT_EQ(guide.refresh(closed, t0 + 6s), GuideStep{});
    EXPECT_EQ(guide.state(), GuideState::Idle);
    EXPECT_FALSE(guide.shown());
    // Asking again restarts it, with a fresh wait for the settings window.
    EXPECT_FALSE(guide.request(Permission::ScreenRecording, t0 + 7s));
    EXPECT_EQ(refresh(10s), GuideStep{});
    EXPECT_TRUE(refresh(11s + 1ms).bring_to_front);
}

TEST_F(GuideMachine, ALaterRequestReplacesTheEarlierOne) {
    guide.request(Permission::ScreenRecording, t0);
    refresh(5s);
    // Already on screen: the caller brings it to the front again.
    EXPECT_TRUE(guide.request(Permission::Accessibility, t0 + 6s));
    EXPECT_EQ(guide.state(), GuideState::Accessibility);
    EXPECT_EQ(refresh(6500ms, SCREEN), GuideStep{});  // no longer waiting for that one
    EXPECT_TRUE(refresh(7s, ACCESS).hide);
}

// The panel and its driver on the offscreen platform, with a recording platform and a clock
// of the test's own.
class FakePlatform final : public GuidePlatform {
  public:
    struct Opened {
        Permission which;
        std::chrono::nanoseconds delay;
    };
    PermissionSet granted;
    std::optional<Rect> window;
    std::vector<Opened> opened;

    PermissionSet permissions() override { return granted; }
    void open_settings(Permission which, std::chrono::nanoseconds delay) override {
        opened.push_back({which, delay});
    }
    std::optional<Rect> settings_window() override { return window; }
};

class GuideOnScreen : public ::testing::Test {
  protected:
    GuideOnScreen() {
        host::testing::qt_app();
        auto fake = std::make_unique<FakePlatform>();
        platform = fake.get();
        guide = std::make_unique<PermissionGuide>(std::move(fake), application_icon(),
                                                  [this] { return now; });
    }
    QPoint fallback() const {
        const QRect v = QGuiApplication::primaryScreen()->availableGeometry();
        return {v.x() + (v.width() - 400) / 2, v.y() + v.height() - 40 - 124};
    }

    Guide::Clock::time_point now{};
    FakePlatform* platform;
    std::unique_ptr<PermissionGuide> guide;
};

TEST_F(GuideOnScreen, PanelHoldsTheIconTitleAndExplanation) {
    GuidePanel& panel = guide->panel();
    EXPECT_EQ(panel.size(), QSize(400, 124));
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.icon()->geometry(), QRect(20, 30, 64, 64));
    EXPECT_FALSE(panel.icon()->pixmap().isNull());
    EXPECT_EQ(panel.icon()->toolTip(), ui::tr("Drag into the list"));
    EXPECT_EQ(panel.title()->text(), ui::tr("Drag Mirravale into the list"));
    EXPECT_TRUE(panel.explanation()->text().contains(QStringLiteral("\u2212")));
    EXPECT_TRUE(panel.explanation()->wordWrap());
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(panel.grab().save(
        QString::fromStdString((host::testing::screenshot_dir() / "guide-panel.png").string())));
}

TEST(GuidePanelTexts, AreTheTablesKeysInBothLanguages) {
    host::testing::qt_app();
    struct Reset {
        ~Reset() { decide_language(false); }
    } reset;
    decide_language(true);
    GuidePanel panel(application_icon());
    EXPECT_EQ(panel.title()->text().toStdString(), "Glissez Mirravale dans la liste");
    EXPECT_EQ(panel.icon()->toolTip().toStdString(), "Glissez dans la liste");
    EXPECT_EQ(
        panel.explanation()->text().toStdString(),
        "Glissez cette ic\u00f4ne dans la liste, puis activez Mirravale. D\u00e9j\u00e0 l\u00e0 "
        "mais sans effet ? Retirez-le avec \u2212, puis glissez-le \u00e0 nouveau.");
    EXPECT_TRUE(panel.grab().save(
        QString::fromStdString((host::testing::screenshot_dir() / "guide-panel-fr.png").string())));
}

TEST_F(GuideOnScreen, DraggingTheBackgroundMovesThePanel) {
    GuidePanel& panel = guide->panel();
    panel.move(100, 100);
    panel.show();
    const QPointF inside(300, 110);  // right of the explanation, below it
    const auto send = [&](QEvent::Type type, QPointF global, Qt::MouseButtons buttons) {
        QMouseEvent event(type, global - QPointF(panel.pos()), global, Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&panel, &event);
    };
    send(QEvent::MouseButtonPress, inside + QPointF(100, 100), Qt::LeftButton);
    send(QEvent::MouseMove, inside + QPointF(150, 130), Qt::LeftButton);
    EXPECT_EQ(panel.pos(), QPoint(150, 130));
    send(QEvent::MouseButtonRelease, inside + QPointF(150, 130), Qt::NoButton);
    send(QEvent::MouseMove, inside + QPointF(400, 400), Qt::NoButton);
    EXPECT_EQ(panel.pos(), QPoint(150, 130));
}

TEST_F(GuideOnScreen, DragCarriesTheProgramsFile) {
    const auto data = application_drag_data();
    ASSERT_TRUE(data);
    ASSERT_EQ(data->urls().size(), 1);
    const QUrl url = data->urls().front();
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_EQ(url.toLocalFile().toStdString(), *this_program());
}

TEST_F(GuideOnScreen, AGrantedPermissionOpensNothing) {
    platform->granted = {PermissionSet::SCREEN_RECORDING};
    guide->allow(Permission::ScreenRecording);
    EXPECT_TRUE(platform->opened.empty());
    EXPECT_EQ(guide->guide().state(), GuideState::Idle);
    now += 10s;
    guide->refresh(platform->granted);
    EXPECT_FALSE(guide->panel().isVisible());
}

TEST_F(GuideOnScreen, AMissingPermissionOpensSettingsThenShowsAndHidesThePanel) {
    guide->allow(Permission::Accessibility);
    ASSERT_EQ(platform->opened.size(), 1u);
    EXPECT_EQ(platform->opened[0].which, Permission::Accessibility);
    EXPECT_EQ(platform->opened[0].delay, std::chrono::milliseconds(1800));
    EXPECT_EQ(guide->guide().state(), GuideState::Accessibility);

    now += 4s;
    guide->refresh({});
    EXPECT_FALSE(guide->panel().isVisible());
    now += 1ms;
    guide->refresh({});
    EXPECT_TRUE(guide->panel().isVisible());
    EXPECT_EQ(guide->panel().pos(), fallback());

    // A settings window turns up: the panel goes under it.
    platform->window = Rect{100, 100, 600, 300};
    now += 500ms;
    guide->refresh({});
    EXPECT_EQ(guide->panel().pos(), QPoint(200, 412));

    guide->refresh({PermissionSet::ACCESSIBILITY});
    EXPECT_FALSE(guide->panel().isVisible());
    EXPECT_EQ(guide->guide().state(), GuideState::Idle);
}

TEST_F(GuideOnScreen, ClosingThePanelEndsTheGuideAndAllowRestartsIt) {
    guide->allow(Permission::ScreenRecording);
    now += 5s;
    guide->refresh({});
    ASSERT_TRUE(guide->panel().isVisible());
    guide->panel().close();
    guide->refresh({});
    EXPECT_EQ(guide->guide().state(), GuideState::Idle);
    EXPECT_FALSE(guide->panel().isVisible());

    guide->allow(Permission::ScreenRecording);
    EXPECT_EQ(platform->opened.size(), 2u);
    now += 4s + 1ms;
    guide->refresh({});
    EXPECT_TRUE(guide->panel().isVisible());
}

TEST(Icons, ApplicationIconIsBuiltIn) {
    host::testing::qt_app();
    const QIcon icon = application_icon();
    ASSERT_FALSE(icon.isNull());
    const QImage big = icon.pixmap(QSize(256, 256)).toImage();
    EXPECT_EQ(big.size(), QSize(256, 256));
    EXPECT_EQ(icon.pixmap(QSize(64, 64)).size(), QSize(64, 64));
    EXPECT_EQ(qAlpha(big.pixel(0, 0)), 0);       // rounded corner
    EXPECT_EQ(qAlpha(big.pixel(128, 20)), 255);  // the tile
}

TEST(Icons, TrayTemplateIsBlackOnTransparency) {
    host::testing::qt_app();
    const auto tray = tray_template();
    ASSERT_TRUE(tray);
    EXPECT_EQ(tray->size(), QSize(36, 36));
    EXPECT_EQ(tray->deviceIndependentSize(), QSizeF(18, 18));
    const QImage image = tray->toImage().convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            ASSERT_EQ(qRed(p) | qGreen(p) | qBlue(p), 0) << x << "," << y;
            opaque += qAlpha(p) == 255 ? 1 : 0;
        }
    }
    EXPECT_GT(opaque, 100);
    EXPECT_LT(opaque, 36 * 36 / 2);

    const QImage tinted =
        tint_template(*tray, QColor(200, 100, 50)).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ASSERT_EQ(qAlpha(tinted.pixel(x, y)), qAlpha(image.pixel(x, y)));
            if (qAlpha(image.pixel(x, y)) == 255) {
                ASSERT_EQ(tinted.pixel(x, y), qRgb(200, 100, 50));
            }
        }
    }
}

}  // namespace
}  // namespace mirravale::host::ui

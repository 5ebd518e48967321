#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <asio/io_context.hpp>

#include "core/service.hpp"
#include "core/testing/fakes.hpp"
#include "host/tests/ui_app.hpp"
#include "host/ui/app.hpp"
#include "host/ui/controller.hpp"
#include "host/ui/qt_log.hpp"
#include "host/ui/screen_names.hpp"
#include "host/ui/texts.hpp"

namespace mirravale::host::ui {
namespace {

using namespace std::chrono_literals;

std::string utf8(const QString& text) {
    return text.toStdString();
}

// A guide platform where nothing is granted and nothing opens.
class NoGrants final : public GuidePlatform {
  public:
    core::PermissionSet permissions() override { return {}; }
    void open_settings(platform::Permission, std::chrono::nanoseconds) override { ++opened; }
    std::optional<core::Rect> settings_window() override { return std::nullopt; }
    int opened = 0;
};

class UiController : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::qt_app();
        decide_language(false);
        ASSERT_TRUE(autostart_dir.isValid());
    }
    void TearDown() override { decide_language(false); }

    std::shared_ptr<core::HostService> make_service(std::vector<std::string> paired = {}) {
        std::vector<core::TrustedDevice> devices;
        for (std::size_t i = 0; i < paired.size(); ++i) {
            core::TrustedDevice d;
            d.device_id[0] = static_cast<std::uint8_t>(i + 1);
            d.name = paired[i];
            d.last_seen = 100 - i;
            devices.push_back(d);
        }
        EXPECT_TRUE(fakes.trust_store->save(devices).ok());
        auto service = core::HostService::create({"Studio", {}, {}}, fakes.ports(), {},
                                                 core::secure_random(), [this] { return wall; });
        service->set_addresses({{asio::ip::make_address("192.168.1.20"), 47474}});
        return service;
    }

    std::unique_ptr<Controller> make_controller(std::shared_ptr<core::HostService> service,
                                                bool tray = true) {
        ControllerParts parts;
        parts.service = std::move(service);
        auto platform = std::make_unique<NoGrants>();
        guide_platform = platform.get();
        parts.guide_platform = std::move(platform);
        parts.login = OpenAtLogin(
            std::filesystem::path(autostart_dir.path().toStdString()) / "mirravale.desktop",
            "mirravale");
        parts.tray = tray;
        parts.now = [this] { return steady; };
        return std::make_unique<Controller>(std::move(parts));
    }

    core::testing::FakePorts fakes;
    std::uint64_t wall = 1'000'000;
    std::chrono::steady_clock::time_point steady{};
    QTemporaryDir autostart_dir;
    NoGrants* guide_platform = nullptr;
    asio::io_context io;
};

TEST_F(UiController, MenuItemsInOrderWithTheirTitles) {
    for (bool french : {false, true}) {
        decide_language(french);
        auto controller = make_controller(make_service());
        const std::vector<const char*> english = {"Waiting for your iPhone",
                                                  "",
                                                  "Show Pairing Code…",
                                                  "Copy Pairing Link",
                                                  "Disconnect Phone",
                                                  "Forget All Paired Devices",
                                                  "",
                                                  "Open at Login",
                                                  "",
                                                  "Quit Mirravale"};
        const std::vector<const char*> in_french = {"En attente de votre iPhone",
                                                    "",
                                                    "Afficher le code d’association…",
                                                    "Copier le lien d’association",
                                                    "Déconnecter le téléphone",
                                                    "Oublier tous les appareils associés",
                                                    "",
                                                    "Ouvrir à l’ouverture de session",
                                                    "",
                                                    "Quitter Mirravale"};
        const auto& expected = french ? in_french : english;
        const auto actions = controller->menu().actions();
        ASSERT_EQ(actions.size(), static_cast<qsizetype>(expected.size()));
        for (qsizetype i = 0; i < actions.size(); ++i) {
            EXPECT_EQ(actions[i]->isSeparator(), expected[i][0] == '\0') << i;
            EXPECT_EQ(utf8(actions[i]->text()), expected[i]) << i;
        }
        EXPECT_EQ(actions.back()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        EXPECT_TRUE(controller->login_item()->isCheckable());

        ASSERT_NE(controller->tray(), nullptr);
        EXPECT_EQ(controller->tray()->toolTip(), "Mirravale");
        EXPECT_EQ(controller->tray()->contextMenu(), &controller->menu());

        const auto window = controller->window_actions();
        ASSERT_EQ(window.size(), 2);
        EXPECT_EQ(utf8(window[0]->text()), french ? "Fermer la fenêtre" : "Close Window");
        EXPECT_EQ(window[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
        EXPECT_EQ(utf8(window[1]->text()), french ? "Quitter Mirravale" : "Quit Mirravale");
        EXPECT_EQ(window[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    }
}

TEST_F(UiController, ConnectionLineAndEnablingFollowThePhone) {
    auto service = make_service();
    auto controller = make_controller(service);
    const auto enabled = [&] {
        std::vector<bool> states;
        for (QAction* a : controller->menu().actions()) {
            if (!a->isSeparator()) {
                states.push_back(a->isEnabled());
            }
        }
        return states;
    };
    // waiting line, show, copy, disconnect, forget, login, quit
    const std::vector<bool> without = {false, true, true, false, true, true, true};
    const std::vector<bool> with = {false, true, true, true, true, true, true};

    controller->start();
    EXPECT_TRUE(controller->window().isVisible());
    EXPECT_EQ(utf8(controller->waiting_item()->text()), "Waiting for your iPhone");
    EXPECT_EQ(enabled(), without);
    EXPECT_FALSE(controller->window().disconnect_button()->isEnabled());

    const auto claim = service->claim("Ada & Bob", io.get_executor());
    controller->refresh();
    EXPECT_EQ(utf8(controller->waiting_item()->text()), "● Connected to Ada && Bob");
    EXPECT_EQ(utf8(controller->waiting_item()->iconText()), "● Connected to Ada & Bob");
    EXPECT_EQ(enabled(), with);
    EXPECT_TRUE(controller->window().disconnect_button()->isEnabled());
    EXPECT_FALSE(controller->window().isVisible());  // out of the way while the phone controls

    service->release(claim.claim_id);
    controller->refresh();
    EXPECT_EQ(utf8(controller->waiting_item()->text()), "Waiting for your iPhone");
    EXPECT_EQ(enabled(), without);
    EXPECT_FALSE(controller->window().isVisible());

    service->set_addresses({});
    controller->refresh();
    EXPECT_EQ(utf8(controller->waiting_item()->text()), "Connect this Mac to Wi-Fi or Ethernet");
    EXPECT_EQ(utf8(controller->window().status_label()->text()), "Not on a network");

    // "Show Pairing Code…" brings the window back.
    controller->menu().actions()[2]->trigger();
    EXPECT_TRUE(controller->window().isVisible());
}

TEST_F(UiController, ForgetAllUpdatesTheDevicesLineAtOnce) {
    auto service = make_service({"Ada’s phone", "Bob", "Cy"});
    auto controller = make_controller(service);
    controller->refresh();
    EXPECT_EQ(utf8(controller->window().devices_label()->text()), "Paired: Ada’s phone and 2 more");

    controller->menu().actions()[5]->trigger();  // "Forget All Paired Devices"
    EXPECT_EQ(utf8(controller->window().devices_label()->text()), "No paired devices yet");
    EXPECT_TRUE(fakes.trust_store->saved().empty());
}

TEST_F(UiController, ForgetButtonRevokesTheConnectedPhone) {
    auto service = make_service({"Ada’s phone"});
    auto controller = make_controller(service);
    auto claim = service->claim("Ada’s phone", io.get_executor());
    controller->refresh();
    controller->window().forget_button()->click();
    EXPECT_EQ(utf8(controller->window().devices_label()->text()), "No paired devices yet");
    std::optional<wire::GoodbyeReason> reason;
    claim.kick->async_receive([&](asio::error_code ec, wire::GoodbyeReason r) {
        if (!ec) {
            reason = r;
        }
    });
    io.poll();
    EXPECT_EQ(reason, wire::GoodbyeReason::Revoked);
}

TEST_F(UiController, NewCodeShowsTheNewLinkAtOnce) {
    auto service = make_service();
    auto controller = make_controller(service);
    controller->refresh();
    const qint64 before = controller->window().qr_image().cacheKey();
    const std::string old_link = service->status().latest().first.invite_url;

    controller->window().new_code_button()->click();
    EXPECT_NE(service->status().latest().first.invite_url, old_link);
    EXPECT_NE(controller->window().qr_image().cacheKey(), before);
}

TEST_F(UiController, CopyLinkPutsTheLinkOnTheClipboardWithBriefFeedback) {
    auto service = make_service();
    auto controller = make_controller(service);
    controller->refresh();
    QGuiApplication::clipboard()->clear();

    controller->menu().actions()[3]->trigger();  // "Copy Pairing Link"
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              service->status().latest().first.invite_url);

    struct Step {
        std::chrono::milliseconds after;
        const char* title;
    };
    // Whole seconds elapsed of at most 1: shown for just under 2 seconds.
    const Step steps[] = {{0ms, "Copied ✓"}, {1999ms, "Copied ✓"}, {2000ms, "Copy Link"}};
    const auto copied = steady;
    for (const auto& step : steps) {
        steady = copied + step.after;
        controller->refresh();
        EXPECT_EQ(utf8(controller->window().copy_button()->text()), step.title)
            << step.after.count();
    }

    // The window's button does the same.
    controller->window().copy_button()->click();
    EXPECT_EQ(utf8(controller->window().copy_button()->text()), "Copied ✓");
}

TEST_F(UiController, AllowStartsTheGuideForAMissingPermission) {
    fakes.permissions->set(0);
    auto controller = make_controller(make_service());
    controller->refresh();
    ASSERT_TRUE(controller->window().screen_allow_button()->isVisibleTo(&controller->window()));

    controller->window().access_allow_button()->click();
    EXPECT_EQ(guide_platform->opened, 1);
    EXPECT_EQ(controller->guide().guide().state(), GuideState::Accessibility);
    controller->window().screen_allow_button()->click();
    EXPECT_EQ(controller->guide().guide().state(), GuideState::ScreenRecording);
}

TEST_F(UiController, OpenAtLoginTogglesItsCheckMark) {
    auto controller = make_controller(make_service());
    controller->refresh();
    EXPECT_FALSE(controller->login_item()->isChecked());
    controller->login_item()->trigger();
    EXPECT_TRUE(controller->login_item()->isChecked());
    EXPECT_TRUE(QFile::exists(autostart_dir.filePath("mirravale.desktop")));
    controller->login_item()->trigger();
    EXPECT_FALSE(controller->login_item()->isChecked());
}

TEST_F(UiController, WithoutATrayClosingTheWindowQuits) {
    auto service = make_service();
    auto controller = make_controller(service, false);
    EXPECT_EQ(controller->tray(), nullptr);
    controller->start();

    // A phone's arrival leaves the window in the task bar rather than nowhere.
    const auto claim = service->claim("Ada", io.get_executor());
    controller->refresh();
    EXPECT_TRUE(controller->window().isVisible());
    service->release(claim.claim_id);

    QTimer::singleShot(0, &controller->window(), [&] { controller->window().close(); });
    // Only a failure reaches this guard.
    QTimer::singleShot(30s, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST_F(UiController, WithATrayClosingTheWindowOnlyHidesIt) {
    auto controller = make_controller(make_service());
    controller->start();
    bool quitting = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quitting = true; });
    controller->window().close();
    EXPECT_FALSE(controller->window().isVisible());
    QCoreApplication::processEvents();
    EXPECT_FALSE(quitting);
}

// Sets or clears environment variables for one scope.
class ScopedEnv {
  public:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(UiDesktop, FailsAtOnceWhereNoInterfaceCanBeShown) {
    struct Case {
        const char* platform;
        const char* display;
        const char* wayland;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr},
        {nullptr, ":9871", nullptr},  // no server there
        {"xcb", ":9871", nullptr},
        {"wayland", ":9871", nullptr},
    };
    for (const auto& c : cases) {
        ScopedEnv env;
        env.set("QT_QPA_PLATFORM", c.platform);
        env.set("DISPLAY", c.display);
        env.set("WAYLAND_DISPLAY", c.wayland);
        const auto shown = run_desktop({});
        ASSERT_FALSE(shown.ok()) << (c.platform ? c.platform : "default");
        EXPECT_NE(shown.error().find("no display"), std::string::npos) << shown.error();
    }

    Status elsewhere;
    std::thread([&] { elsewhere = run_desktop({}); }).join();
    ASSERT_FALSE(elsewhere.ok());
    EXPECT_EQ(elsewhere.error(), "the desktop interface runs on the main thread");
}

TEST(UiQtLog, QtMessagesGoToTheLogWithTheirLevelAndCategory) {
    testing::LogCapture log("mirravale::ui");
    route_qt_messages();
    qWarning("no tray here");
    qDebug("%s", "details");
    QMessageLogger(nullptr, 0, nullptr, "qt.qpa.xcb").critical("lost the display");
    qInstallMessageHandler(nullptr);
    EXPECT_EQ(log.lines(),
              "warning mirravale::ui no tray here category=default\n"
              "debug mirravale::ui details category=default\n"
              "error mirravale::ui lost the display category=qt.qpa.xcb\n");
}

TEST(UiScreenNames, TheApplicationsScreensAreListedInItsOrder) {
    testing::qt_app();
    const auto screens = current_screens();
    const auto qt = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), static_cast<std::size_t>(qt.size()));
    ASSERT_FALSE(screens.empty());
    EXPECT_EQ(screens[0].geometry, qt[0]->geometry());  // one pixel per point here
}

TEST(UiScreenNames, ScreensAreMatchedToDisplaysByTheirRectangles) {
    const std::vector<core::Display> displays = {
        {11, "Display 1", {0, 0, 1920, 1080}, 1920, 1080, true},
        {22, "Display 2", {1920, 0, 2560, 1440}, 2560, 1440, false},
        {33, "Display 3", {1920, 0, 2560, 1440}, 2560, 1440, false},  // a mirror
    };
    struct Case {
        const char* name;
        std::vector<ScreenEntry> screens;
        platform::DisplayNames names;
    };
    const Case cases[] = {
        {"two screens in screen order",
         {{"DELL U2720Q", {1920, 0, 2560, 1440}}, {"Laptop panel", {0, 0, 1920, 1080}}},
         {{22, "DELL U2720Q"}, {11, "Laptop panel"}}},
        {"two screens on one rectangle take one display each",
         {{"A", {1920, 0, 2560, 1440}}, {"B", {1920, 0, 2560, 1440}}},
         {{22, "A"}, {33, "B"}}},
        {"a screen without a display is left out",
         {{"Ghost", {0, 0, 800, 600}}, {"Laptop panel", {0, 0, 1920, 1080}}},
         {{11, "Laptop panel"}}},
        {"a screen without a name keeps its display's own",
         {{"", {1920, 0, 2560, 1440}}, {"B", {1920, 0, 2560, 1440}}},
         {{33, "B"}}},
        {"no screens", {}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(names_for_screens(c.screens, displays), c.names) << c.name;
    }
}

}  // namespace
}  // namespace mirravale::host::ui

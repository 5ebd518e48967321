#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QIcon>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>

#include "core/ports.hpp"
#include "host/tests/ui_app.hpp"
#include "host/ui/icons.hpp"
#include "host/ui/pairing_window.hpp"
#include "host/ui/texts.hpp"

namespace mirravale::host::ui {
namespace {

using core::HostStatus;

const std::string LINK =
    "mirravale://pair?v=1&id=3f2a9c41d07b4e8a9b1c5d6e7f801234&n=Studio%20Desk"
    "&a=192.168.1.20:47474&fp=q3Z0cWx5YlR1dE9qS2hBcVh6bU5wR2VmV3JLdExzQmM&c=7KQ4-9TXW&x=1800000600";

asio::ip::tcp::endpoint address(const char* ip, unsigned short port = 47474) {
    return {asio::ip::make_address(ip), port};
}

HostStatus waiting(std::uint64_t expires = 1'000'600) {
    HostStatus s;
    s.host_name = "Studio";
    s.invite_url = LINK;
    s.code_expires_at = expires;
    s.addresses = {address("192.168.1.20")};
    s.permissions = core::PermissionSet{3};
    return s;
}

HostStatus connected(std::optional<core::StreamInfo> stream = std::nullopt) {
    HostStatus s = waiting();
    s.controller = core::ControllerInfo{"Ada’s phone", 1'000'000, stream};
    return s;
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

class UiWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::qt_app();
        decide_language(false);
    }
    void TearDown() override { decide_language(false); }
};

TEST_F(UiWindow, WidgetsSitInTheirFramesWithTheirTexts) {
    for (bool french : {false, true}) {
        decide_language(french);
        PairingWindow window{QIcon()};
        EXPECT_EQ(window.size(), QSize(400, 722));
        EXPECT_EQ(window.windowTitle(), "Mirravale");
        struct Widget {
            QWidget* widget;
            QRect frame;  // top-left origin
            const char* english;
            const char* french;
        };
        const Widget widgets[] = {
            {window.icon(), {168, 34, 64, 64}, nullptr, nullptr},
            {window.title(),
             {20, 104, 360, 26},
             "Control this Mac from your iPhone",
             "Contrôlez ce Mac depuis votre iPhone"},
            {window.subtitle(),
             {20, 132, 360, 18},
             "Open Mirravale on your iPhone and scan this code.",
             "Ouvrez Mirravale sur votre iPhone et scannez ce code."},
            {window.card(), {65, 164, 270, 270}, nullptr, nullptr},
            {window.qr_view(), {75, 174, 250, 250}, nullptr, nullptr},
            {window.copy_button(), {130, 446, 140, 28}, "Copy Link", "Copier le lien"},
            {window.detail_label(), {20, 508, 360, 16}, nullptr, nullptr},
            {window.permissions_box(), {20, 538, 360, 74}, nullptr, nullptr},
            {window.screen_row(),
             {34, 552, 240, 18},
             "Screen Recording — to show the screen",
             "Enregistrement d’écran — pour le voir"},
            {window.screen_allowed_label(), {266, 552, 100, 18}, nullptr, nullptr},
            {window.screen_allow_button(), {266, 546, 100, 28}, "Allow…", "Autoriser…"},
            {window.access_row(),
             {34, 582, 240, 18},
             "Accessibility — to click and type",
             "Accessibilité — pour cliquer et écrire"},
            {window.access_allowed_label(), {266, 582, 100, 18}, nullptr, nullptr},
            {window.access_allow_button(), {266, 576, 100, 28}, "Allow…", "Autoriser…"},
            {window.new_code_button(), {20, 628, 112, 30}, "New Code", "Nouveau code"},
            {window.disconnect_button(), {144, 628, 112, 30}, "Disconnect", "Déconnecter"},
            {window.forget_button(), {268, 628, 112, 30}, "Forget Devices", "Oublier"},
            {window.devices_label(), {20, 670, 360, 16}, nullptr, nullptr},
            {window.footer(),
             {20, 690, 360, 16},
             "Mirravale for iPhone: https://mirravale.app/iphone",
             "Mirravale pour iPhone : https://mirravale.app/iphone"},
        };
        for (const auto& w : widgets) {
            SCOPED_TRACE(w.widget->metaObject()->className());
            EXPECT_EQ(w.widget->geometry(), w.frame);
            if (w.english == nullptr) {
                continue;
            }
            const char* expected = french ? w.french : w.english;
            if (auto* l = qobject_cast<QLabel*>(w.widget)) {
                EXPECT_EQ(utf8(l->text()), expected);
            } else if (auto* b = qobject_cast<QPushButton*>(w.widget)) {
                EXPECT_EQ(utf8(b->text()), expected);
            }
        }
        // The dot and the status text share the status line's row.
        EXPECT_EQ(window.status_dot()->geometry().top(), 491);
        EXPECT_EQ(window.status_dot()->size(), QSize(10, 10));
        EXPECT_EQ(window.status_label()->geometry().top(), 486);
        EXPECT_EQ(window.status_label()->height(), 20);
    }
}

TEST_F(UiWindow, QrImageReadsBackAsTheLink) {
    PairingWindow window{QIcon()};
    window.update_top(waiting(), std::nullopt, 1'000'000);

    const QImage& image = window.qr_image();
    ASSERT_FALSE(image.isNull());
    // 8 pixels per module with 4 modules of quiet zone on each side.
    EXPECT_EQ(image.width(), image.height());
    EXPECT_EQ(image.width() % 8, 0);
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(31, 31), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(32, 32), QColor(23, 20, 46));  // the finder pattern's corner
    EXPECT_EQ(image.pixelColor(39, 39), QColor(23, 20, 46));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Both the picture itself and the view as drawn, scaled into 250 x 250.
    const QString raw = dir.filePath("qr.png");
    const QString shown = dir.filePath("shown.png");
    ASSERT_TRUE(image.save(raw));
    ASSERT_TRUE(window.qr_view()->grab().save(shown));
    for (const QString& file : {raw, shown}) {
        QProcess zbar;
        zbar.start("zbarimg", {"--raw", "-q", file});
        ASSERT_TRUE(zbar.waitForFinished(-1));
        EXPECT_EQ(zbar.exitCode(), 0);
        EXPECT_EQ(zbar.readAllStandardOutput().trimmed().toStdString(), LINK);
    }
}

TEST_F(UiWindow, QrImageIsRebuiltOnlyForANewLinkAndFadesInOnRenewals) {
    testing::LogCapture log("mirravale::ui");
    PairingWindow window{QIcon()};
    const HostStatus first = waiting();
    window.update_top(first, std::nullopt, 1'000'000);
    const qint64 shown = window.qr_image().cacheKey();
    EXPECT_EQ(window.qr_opacity(), 1.0);  // the first picture is not faded in

    HostStatus same = first;
    same.code_expires_at += 1;
    window.update_top(same, first, 1'000'001);
    EXPECT_EQ(window.qr_image().cacheKey(), shown);
    EXPECT_EQ(window.qr_opacity(), 1.0);

    HostStatus renewed = same;
    renewed.invite_url = LINK + "0";
    window.update_top(renewed, same, 1'000'002);
    EXPECT_NE(window.qr_image().cacheKey(), shown);
    EXPECT_LT(window.qr_opacity(), 1.0);

    // A link too long for any symbol keeps the picture that was there.
    const qint64 renewed_key = window.qr_image().cacheKey();
    HostStatus too_long = renewed;
    too_long.invite_url = std::string(8000, 'a');
    window.update_top(too_long, renewed, 1'000'003);
    EXPECT_EQ(window.qr_image().cacheKey(), renewed_key);

    // Each picture drawn, and only those, is logged with its link.
    EXPECT_EQ(log.lines(), "debug mirravale::ui pairing link: " + LINK + "\n" +
                               "debug mirravale::ui pairing link: " + LINK + "0\n");
}

TEST_F(UiWindow, StatusDetailAndDevicesLines) {
    const auto devices = [](std::vector<std::string> names) {
        std::vector<core::PairedDeviceInfo> list;
        for (auto& n : names) {
            list.push_back({n, 0});
        }
        return list;
    };
    struct Case {
        const char* name;
        bool french;
        HostStatus status;
        std::uint64_t now;
        const char* status_line;
        const char* detail;
        const char* devices;
    };
    HostStatus notice = waiting();
    notice.notice = "The screen cannot be shown.";
    HostStatus offline = waiting();
    offline.addresses.clear();
    HostStatus offline_notice = offline;
    offline_notice.notice = "The screen cannot be shown.";
    HostStatus three = waiting();
    three.paired_devices = devices({"Ada’s phone", "Bob", "Cy"});
    HostStatus two = waiting();
    two.paired_devices = devices({"Ada’s phone", "Bob"});
    HostStatus one = waiting();
    one.paired_devices = devices({"Ada’s phone"});
    HostStatus v6 = waiting();
    v6.addresses = {address("fe80::1", 47475)};

    const Case cases[] = {
        {"countdown 2:05", false, waiting(1'000'125), 1'000'000, "Waiting for your iPhone",
         "192.168.1.20:47474 · this code renews in 2:05", "No paired devices yet"},
        {"countdown 0:05", false, waiting(1'000'005), 1'000'000, "Waiting for your iPhone",
         "192.168.1.20:47474 · this code renews in 0:05", "No paired devices yet"},
        {"expired", false, waiting(999'990), 1'000'000, "Waiting for your iPhone",
         "192.168.1.20:47474 · this code renews in 0:00", "No paired devices yet"},
        {"countdown fr", true, waiting(1'000'125), 1'000'000, "En attente de votre iPhone",
         "192.168.1.20:47474 · nouveau code dans 2:05", "Aucun appareil associé pour l’instant"},
        {"notice", false, notice, 1'000'000, "Waiting for your iPhone",
         "The screen cannot be shown.", "No paired devices yet"},
        {"no network", false, offline, 1'000'000, "Not on a network", "", "No paired devices yet"},
        {"no network fr", true, offline, 1'000'000, "Aucun réseau", "",
         "Aucun appareil associé pour l’instant"},
        {"no network, notice", false, offline_notice, 1'000'000, "Not on a network",
         "The screen cannot be shown.", "No paired devices yet"},
        {"connected", false, connected(), 1'000'000, "● Connected to Ada’s phone",
         "192.168.1.20:47474", "No paired devices yet"},
        {"streaming", false, connected(core::StreamInfo{1920, 1080, 60}), 1'000'000,
         "● Connected to Ada’s phone", "192.168.1.20:47474 · streaming 1920×1080 at 60 fps",
         "No paired devices yet"},
        {"streaming fr", true, connected(core::StreamInfo{1280, 720, 30}), 1'000'000,
         "● Connecté à Ada’s phone", "192.168.1.20:47474 · diffusion 1280×720 à 30 i/s",
         "Aucun appareil associé pour l’instant"},
        {"IPv6", false, v6, 1'000'540, "Waiting for your iPhone",
         "[fe80::1]:47475 · this code renews in 1:00", "No paired devices yet"},
        {"one device", false, one, 1'000'000, "Waiting for your iPhone",
         "192.168.1.20:47474 · this code renews in 10:00", "Paired: Ada’s phone"},
        {"three devices", false, three, 1'000'000, "Waiting for your iPhone",
         "192.168.1.20:47474 · this code renews in 10:00", "Paired: Ada’s phone and 2 more"},
        {"three devices fr", true, three, 1'000'000, "En attente de votre iPhone",
         "192.168.1.20:47474 · nouveau code dans 10:00", "Associés : Ada’s phone et 2 autres"},
        {"two devices fr", true, two, 1'000'000, "En attente de votre iPhone",
         "192.168.1.20:47474 · nouveau code dans 10:00", "Associés : Ada’s phone et 1 autre"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        decide_language(c.french);
        PairingWindow window{QIcon()};
        window.update_top(c.status, std::nullopt, c.now);
        window.update_bottom(c.status, false);
        EXPECT_EQ(utf8(window.status_label()->text()), c.status_line);
        EXPECT_EQ(utf8(window.detail_label()->text()), c.detail);
        EXPECT_EQ(utf8(window.devices_label()->text()), c.devices);
        EXPECT_EQ(window.disconnect_button()->isEnabled(), c.status.controller.has_value());
    }
}

TEST_F(UiWindow, PermissionRowsShowEitherAllowedOrTheButton) {
    PairingWindow window{QIcon()};
    window.show();
    for (std::uint8_t bits : {0, 1, 2, 3}) {
        SCOPED_TRACE(int(bits));
        HostStatus s = waiting();
        s.permissions = core::PermissionSet{bits};
        window.update_top(s, std::nullopt, 1'000'000);
        const bool screen = bits & 1;
        const bool access = bits & 2;
        EXPECT_EQ(window.screen_allowed_label()->isVisible(), screen);
        EXPECT_EQ(window.screen_allow_button()->isVisible(), !screen);
        EXPECT_EQ(utf8(window.screen_allowed_label()->text()), screen ? "Allowed ✓" : "");
        EXPECT_EQ(window.access_allowed_label()->isVisible(), access);
        EXPECT_EQ(window.access_allow_button()->isVisible(), !access);
        EXPECT_EQ(utf8(window.access_allowed_label()->text()), access ? "Allowed ✓" : "");
    }
}

TEST_F(UiWindow, StatusLineIsCentredWithItsDotAndNeverCloserThan20) {
    struct Case {
        double text_width;
        StatusPlacement placement;
    };
    const Case cases[] = {
        {100, {141, 159, 104}}, {99.2, {141, 159, 104}},  // raised to the next whole number first
        {344, {20, 38, 348}},   {343, {20, 38, 347}},    {600, {20, 38, 604}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(place_status(c.text_width), c.placement) << c.text_width;
    }

    PairingWindow window{QIcon()};
    HostStatus long_name = connected();
    long_name.controller->device_name = std::string(80, 'W');
    window.update_top(long_name, std::nullopt, 1'000'000);
    EXPECT_EQ(window.status_dot()->x(), 20);
    EXPECT_EQ(window.status_label()->x(), 38);
    EXPECT_GT(window.status_label()->geometry().right(), 400);

    window.update_top(waiting(), long_name, 1'000'000);
    const int dot_x = window.status_dot()->x();
    EXPECT_GT(dot_x, 20);
    EXPECT_EQ(window.status_label()->x(), dot_x + 18);
    // Centred: as much room on the left of the dot as on the right of the text.
    const int right_room = 400 - (window.status_label()->x() + window.status_label()->width() - 4);
    EXPECT_NEAR(dot_x, right_room, 1);
}

TEST_F(UiWindow, DotPulsesWhileWaitingAndStaysSolidWhenConnected) {
    struct Case {
        bool connected;
        double current;
        double target;
    };
    const Case cases[] = {
        {false, 1.0, 0.3}, {false, 0.7, 0.3}, {false, 0.69, 1.0},
        {false, 0.3, 1.0}, {true, 0.3, 1.0},  {true, 1.0, 1.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pulse_target(c.connected, c.current), c.target) << c.current;
    }

    // Hidden, each refresh gives the dot its next state at once.
    PairingWindow window{QIcon()};
    std::vector<double> seen;
    for (int i = 0; i < 4; ++i) {
        window.update_top(waiting(), std::nullopt, 1'000'000);
        seen.push_back(window.dot_opacity());
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_TRUE(seen[i] == 0.3 || seen[i] == 1.0) << seen[i];
        if (i > 0) {
            EXPECT_NE(seen[i], seen[i - 1]);
        }
    }
    window.update_top(connected(), std::nullopt, 1'000'000);
    window.update_top(connected(), std::nullopt, 1'000'000);
    EXPECT_EQ(window.dot_opacity(), 1.0);

    // On screen the change is animated from where the dot is.
    window.show();
    window.update_top(waiting(), std::nullopt, 1'000'000);
    EXPECT_EQ(window.dot_opacity(), 1.0);
    EXPECT_EQ(window.dot_opacity_target(), 0.3);
    window.update_top(connected(), std::nullopt, 1'000'000);
    EXPECT_EQ(window.dot_opacity_target(), 1.0);
}

TEST_F(UiWindow, HidesWhenAPhoneConnectsAndStaysHiddenAfterItLeaves) {
    PairingWindow window{QIcon()};
    window.show();
    const HostStatus before = waiting();
    window.update_top(before, std::nullopt, 1'000'000);
    ASSERT_TRUE(window.isVisible());

    const HostStatus during = connected();
    window.update_top(during, before, 1'000'001);
    EXPECT_FALSE(window.isVisible());

    window.update_top(before, during, 1'000'002);
    EXPECT_FALSE(window.isVisible());

    // Shown again by the user while the phone is still there, it stays.
    window.show();
    window.update_top(during, during, 1'000'003);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(UiWindow, PhoneNamesAreShownAsTheyAreNeverAsMarkup) {
    PairingWindow window{QIcon()};
    HostStatus s = connected();
    s.controller->device_name = "<b>Ada</b> & <img src=x>";
    s.paired_devices = {{"<i>Bob</i>", 0}};
    window.update_top(s, std::nullopt, 1'000'000);
    window.update_bottom(s, false);
    EXPECT_EQ(utf8(window.status_label()->text()), "● Connected to <b>Ada</b> & <img src=x>");
    EXPECT_EQ(window.status_label()->textFormat(), Qt::PlainText);
    EXPECT_EQ(window.devices_label()->textFormat(), Qt::PlainText);
    EXPECT_EQ(window.detail_label()->textFormat(), Qt::PlainText);
}

TEST_F(UiWindow, CopyButtonShowsTheFeedback) {
    for (bool french : {false, true}) {
        decide_language(french);
        PairingWindow window{QIcon()};
        window.update_bottom(waiting(), true);
        EXPECT_EQ(utf8(window.copy_button()->text()), french ? "Copié ✓" : "Copied ✓");
        window.update_bottom(waiting(), false);
        EXPECT_EQ(utf8(window.copy_button()->text()), french ? "Copier le lien" : "Copy Link");
    }
}

TEST_F(UiWindow, ScreenshotsInBothLanguages) {
    HostStatus paired = waiting(1'000'125);
    paired.paired_devices = {{"Ada’s phone", 0}, {"Bob", 0}};
    paired.permissions = core::PermissionSet{1};
    HostStatus streaming = connected(core::StreamInfo{1920, 1080, 60});
    streaming.paired_devices = paired.paired_devices;
    for (bool french : {false, true}) {
        decide_language(french);
        for (const auto& [name, status] :
             {std::pair{"waiting", paired}, std::pair{"connected", streaming}}) {
            PairingWindow window{application_icon()};
            window.update_top(status, std::nullopt, 1'000'000);
            window.update_bottom(status, false);
            const QPixmap shot = window.grab();
            EXPECT_EQ(shot.size(), QSize(400, 722) * shot.devicePixelRatio());
            const auto file = testing::screenshot_dir() /
                              (std::string("window-") + name + (french ? "-fr" : "-en") + ".png");
            EXPECT_TRUE(shot.save(QString::fromStdString(file.string())));
        }
    }
}

}  // namespace
}  // namespace mirravale::host::ui

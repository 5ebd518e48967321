#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/headless.hpp"
#include "host/qr.hpp"

namespace mirravale::host {
namespace {

const std::string SCREEN =
    "! Screen Recording is off for this app: System Settings → Privacy & Security → Screen & "
    "System Audio Recording.\n";
const std::string ACCESS =
    "! Accessibility is off for this app, so the phone cannot click or type: System Settings → "
    "Privacy & Security → Accessibility.\n";

core::HostStatus waiting(std::string url = "mirravale://pair?v=1&c=A") {
    core::HostStatus s;
    s.host_name = "Studio";
    s.invite_url = std::move(url);
    s.permissions.bits = 3;
    return s;
}

TEST(Headless, FirstStatusPrintsThePairingBlock) {
    auto status = waiting();
    status.addresses = {{asio::ip::make_address("192.168.1.20"), 47474}};
    status.permissions.bits = 2;
    const auto text = headless_changes({}, status);
    const auto qr = terminal_qr(*qr_modules(status.invite_url));
    EXPECT_EQ(text, "\n" + qr + "\n  Scan with Mirravale on your iPhone to control Studio.\n" +
                        "  Listening on 192.168.1.20:47474\n  Link: " + status.invite_url + "\n\n" +
                        SCREEN);
    status.addresses.clear();
    status.permissions.bits = 0;
    EXPECT_NE(headless_changes({}, status)
                  .find("  No network address yet: is this Mac on Wi-Fi or Ethernet?\n  Link: "),
              std::string::npos);
    EXPECT_NE(headless_changes({}, status).find(SCREEN + ACCESS), std::string::npos);
}

TEST(Headless, ConnectionStreamAndNoticeLines) {
    const auto idle = waiting();
    auto connected = idle;
    connected.controller = core::ControllerInfo{"Léa's phone", 1, std::nullopt};
    auto streaming = connected;
    streaming.controller->stream = core::StreamInfo{1920, 1080, 30};
    auto resized = streaming;
    resized.controller->stream = core::StreamInfo{1280, 720, 30};
    resized.invite_url = "mirravale://pair?v=1&c=B";  // renewals print nothing while connected
    auto noticed = resized;
    noticed.notice = "the display went away";
    auto granted_less = noticed;
    granted_less.permissions.bits = 1;

    struct Step {
        const core::HostStatus& previous;
        const core::HostStatus& now;
        std::string expected;
    };
    const Step steps[] = {
        {idle, idle, ""},
        {idle, connected, "● Connected: Léa's phone\n"},
        {connected, streaming, "  Streaming 1920×1080 at 30 fps\n"},
        {idle, streaming, "● Connected: Léa's phone\n  Streaming 1920×1080 at 30 fps\n"},
        {streaming, resized, "  Streaming 1280×720 at 30 fps\n"},
        {resized, noticed, "! the display went away\n"},
        {noticed, granted_less, ACCESS},
        {streaming, idle, "○ Disconnected\n"},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(headless_changes(step.previous, step.now), step.expected);
    }
    // Leaving while the link changes prints the new pairing block first.
    const auto renewed = waiting("mirravale://pair?v=1&c=C");
    const auto text = headless_changes(streaming, renewed);
    EXPECT_TRUE(text.starts_with("\n"));
    EXPECT_TRUE(text.ends_with("\n\n○ Disconnected\n"));
}

TEST(Qr, DecodesBackToTheLink) {
    const std::string link =
        "mirravale://"
        "pair?v=1&id=00112233445566778899aabbccddeeff&n=Mac%20de%20L%C3%A9a&a=192.168.1.20%3A47474"
        "&fp=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA&c=0123456789ABCDEFGHJKMNPQRS&x=1700000600";
    const auto modules = qr_modules(link);
    ASSERT_TRUE(modules);
    // A picture with the quiet zone, 4 pixels a module, for an independent reader.
    const int scale = 4, full = (modules->size + 2 * QR_QUIET_ZONE) * scale;
    const auto path = std::filesystem::temp_directory_path() / "mirravale-qr-test.pgm";
    {
        std::ofstream out(path, std::ios::binary);
        out << "P5\n" << full << " " << full << "\n255\n";
        for (int y = 0; y < full; ++y) {
            for (int x = 0; x < full; ++x) {
                const int mx = x / scale - QR_QUIET_ZONE, my = y / scale - QR_QUIET_ZONE;
                const bool dark = mx >= 0 && my >= 0 && mx < modules->size && my < modules->size &&
                                  modules->at(mx, my);
                out.put(static_cast<char>(dark ? 0 : 255));
            }
        }
    }
    const std::string command = "zbarimg --raw -q " + path.string();
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string decoded;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        decoded += buffer;
    pclose(pipe);
    std::filesystem::remove(path);
    EXPECT_EQ(decoded, link + "\n");

    // The terminal form: inverted, quiet zone included, two rows a line.
    const auto text = terminal_qr(*modules);
    const int lines = (modules->size + 2 * QR_QUIET_ZONE + 1) / 2;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), lines - 1);
    EXPECT_TRUE(text.starts_with("████"));
}

}  // namespace
}  // namespace mirravale::host

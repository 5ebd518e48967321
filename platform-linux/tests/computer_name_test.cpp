#include <gtest/gtest.h>

#include "platform-linux/computer_name.hpp"
#include "platform-linux/headless_ports.hpp"

namespace mirravale::platform {
namespace {

TEST(PrettyHostname, Table) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"PRETTY_HOSTNAME=Studio\n", "Studio"},
        {"CHASSIS=laptop\nPRETTY_HOSTNAME=\"L\xC3\xA9"
         "a's laptop\"\n",
         "L\xC3\xA9"
         "a's laptop"},
        {"PRETTY_HOSTNAME='Bob \"the\" desk'", "Bob \"the\" desk"},
        {"PRETTY_HOSTNAME=My\\ Mac", "My Mac"},
        {"PRETTY_HOSTNAME=\n", std::nullopt},
        {"PRETTY_HOSTNAME='   '\n", std::nullopt},
        {"PRETTY_HOSTNAME=\"\xE3\x80\x80\t\"\n", std::nullopt},  // ideographic space, tab
        {"PRETTY_HOSTNAME=\" Desk \"\n", " Desk "},
        {"PRETTY_HOSTNAME=Caf\xE9\n", "Caf\xEF\xBF\xBD"},  // Latin-1 bytes are not UTF-8
        {"# PRETTY_HOSTNAME=old\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(pretty_hostname(text), expected) << text;
    }
    EXPECT_FALSE(computer_name().empty());
}

TEST(HeadlessPorts, VirtualDisplayOnlyWithTheTestPicture) {
    EXPECT_TRUE(HeadlessDisplays(false).displays().empty());
    const auto displays = HeadlessDisplays(true).displays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0],
              (core::Display{1, "Test Pattern", {0, 0, 1920, 1080}, 1920, 1080, true}));
    EXPECT_EQ(HeadlessPermissions().permissions().bits, 0);
}

}  // namespace
}  // namespace mirravale::platform

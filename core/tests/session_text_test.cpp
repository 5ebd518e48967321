#include <gtest/gtest.h>

#include "core/session_text.hpp"

namespace mirravale::core {
namespace {

TEST(Printable, ControlCharactersAreEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"Léa's phone", "Léa's phone"},
        {"a\nb\r\tc", "a\\nb\\r\\tc"},
        {std::string("x\0y", 3), "x\\x00y"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {"\x7f", "\\x7f"},
        {"\xc2\x9b"
         "2J",
         "\\u{9b}2J"},             // the one-character terminal escape
        {"\xc2\xa0", "\xc2\xa0"},  // no-break space stays
        {"\xc2", "\xc2"},          // a cut-off character stays as it is
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(printable(text), expected) << text;
    }
}

TEST(Describe, MessagesWithoutCredentials) {
    wire::client::Hello hello;
    hello.version = 1;
    hello.device_name = "say \"hi\"\n";
    hello.auth = {wire::HelloAuth::PairingCode{"SECRETCODE"}};
    const std::pair<wire::ClientMessage, std::string> cases[] = {
        {{wire::client::Ping{7}}, "Ping { nonce: 7 }"},
        {{wire::client::KeyframeRequest{}}, "KeyframeRequest"},
        {{wire::client::Key{12, true, wire::Modifiers{3}}},
         "Key { keycode: 12, pressed: true, modifiers: 3 }"},
        {{wire::client::Text{"a\x1b"}}, "Text { text: \"a\\x1b\" }"},
        {{hello}, "Hello { version: 1, device_name: \"say \\\"hi\\\"\\n\", app_version: \"\" }"},
    };
    for (const auto& [message, expected] : cases) {
        EXPECT_EQ(describe(message), expected);
    }
}

}  // namespace
}  // namespace mirravale::core

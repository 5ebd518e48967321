#include "host/cli.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace mirravale::host {
namespace {

CommandLine with_port(std::optional<std::uint16_t> port) {
    CommandLine options;
    options.port = port;
    return options;
}

CommandLine with_name(std::optional<std::string> name) {
    CommandLine options;
    options.name = std::move(name);
    return options;
}

struct ParseCase {
    const char* title;
    std::vector<std::string_view> arguments;
    ParseOutcome expected;
};

TEST(CommandLineParse, Table) {
    CommandLine everything;
    everything.name = "Desk";
    everything.data_dir = "/tmp/x";
    everything.port = 5000;
    everything.headless = true;
    everything.test_pattern = true;

    CommandLine headless;
    headless.headless = true;
    CommandLine pattern_only;
    pattern_only.test_pattern = true;
    CommandLine dash_dir;
    dash_dir.data_dir = "-d";

    const ParseCase cases[] = {
        {"nothing", {}, CommandLine{}},
        {"every option",
         {"--headless", "--port", "5000", "--name", "Desk", "--test-pattern", "--data", "/tmp/x"},
         everything},
        {"port", {"--port", "47474"}, with_port(47474)},
        {"port zero", {"--port", "0"}, with_port(0)},
        {"port maximum", {"--port", "65535"}, with_port(65535)},
        {"port with plus", {"--port", "+8080"}, with_port(8080)},
        {"port with leading zeros", {"--port", "000080"}, with_port(80)},
        {"port above range", {"--port", "65536"}, with_port(std::nullopt)},
        {"port far above range", {"--port", "99999999999999999999"}, with_port(std::nullopt)},
        {"negative port", {"--port", "-1"}, with_port(std::nullopt)},
        {"empty port", {"--port", ""}, with_port(std::nullopt)},
        {"letters", {"--port", "http"}, with_port(std::nullopt)},
        {"plus alone", {"--port", "+"}, with_port(std::nullopt)},
        {"two plus signs", {"--port", "++80"}, with_port(std::nullopt)},
        {"digits then letters", {"--port", "80a"}, with_port(std::nullopt)},
        {"inner space", {"--port", "8 0"}, with_port(std::nullopt)},
        {"port without value", {"--port"}, with_port(std::nullopt)},
        {"later port replaces", {"--port", "1", "--port", "2"}, with_port(2)},
        {"later invalid port clears", {"--port", "1", "--port", "x"}, with_port(std::nullopt)},
        {"port value that looks like an option", {"--port", "--headless"}, with_port(std::nullopt)},
        {"name takes the next argument", {"--name", "--headless"}, with_name("--headless")},
        {"name verbatim", {"--name", " Desk  \u00e9t\u00e9 "}, with_name(" Desk  \u00e9t\u00e9 ")},
        {"empty name", {"--name", ""}, with_name("")},
        {"name without value", {"--name"}, with_name(std::nullopt)},
        {"name without value clears earlier", {"--name", "A", "--name"}, with_name(std::nullopt)},
        {"later name replaces", {"--name", "A", "--name", "B"}, with_name("B")},
        {"data dir starting with dash", {"--data", "-d"}, dash_dir},
        {"process serial alone", {"-psn_0_12345", "--test-pattern"}, pattern_only},
        {"bare -psn", {"-psn"}, CommandLine{}},
        {"NS with value", {"-NSDocumentRevisionsDebugMode", "YES", "--test-pattern"}, pattern_only},
        {"Apple with value", {"-AppleLanguages", "(fr)", "--test-pattern"}, pattern_only},
        {"Apple value that looks like an option", {"-AppleX", "--headless"}, CommandLine{}},
        {"NS without value", {"-NS"}, CommandLine{}},
        {"help", {"--help"}, ShowUsage{}},
        {"short help", {"-h"}, ShowUsage{}},
        {"help before unknown", {"--help", "--bogus"}, ShowUsage{}},
        {"help after options", {"--headless", "-h", "--port"}, ShowUsage{}},
        {"unknown after options", {"--headless", "--bogus", "--help"}, UnknownOption{"--bogus"}},
        {"misspelt", {"--headles"}, UnknownOption{"--headles"}},
        {"case matters", {"--Headless"}, UnknownOption{"--Headless"}},
        {"compared whole", {"--headless=1"}, UnknownOption{"--headless=1"}},
        {"joined port", {"--port=80"}, UnknownOption{"--port=80"}},
        {"bare value", {"80"}, UnknownOption{"80"}},
        {"empty argument", {""}, UnknownOption{""}},
        {"psn needs four bytes", {"-ps"}, UnknownOption{"-ps"}},
        {"N alone", {"-N"}, UnknownOption{"-N"}},
        {"Appl", {"-Appl", "x"}, UnknownOption{"-Appl"}},
        {"invalid UTF-8 option", {"--\xff"}, UnknownOption{"--\xff"}},
        {"invalid UTF-8 name", {"--name", "Desk\xc3"}, UnknownOption{"Desk\xc3"}},
        {"overlong UTF-8 data dir", {"--data", "\xc0\xaf"}, UnknownOption{"\xc0\xaf"}},
        {"surrogate in name", {"--name", "\xed\xa0\x80"}, UnknownOption{"\xed\xa0\x80"}},
        {"beyond U+10FFFF", {"--name", "\xf4\x90\x80\x80"}, UnknownOption{"\xf4\x90\x80\x80"}},
        {"four-byte name accepted", {"--name", "\xf0\x9f\x93\xb1"}, with_name("\xf0\x9f\x93\xb1")},
        {"invalid UTF-8 port is just invalid", {"--port", "\xff"}, with_port(std::nullopt)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_command_line(c.arguments), c.expected) << c.title;
    }
}

TEST(Usage, IsTheFixedText) {
    const std::string_view usage = usage_text();
    EXPECT_EQ(usage.size(), 530u);
    EXPECT_TRUE(usage.starts_with("Mirravale for Mac \xe2\x80\x94 control this Mac"));
    EXPECT_TRUE(usage.ends_with("  --help            this text\n"));
    EXPECT_FALSE(usage.ends_with("\n\n"));
    // Descriptions start after exactly 20 characters.
    EXPECT_NE(usage.find("\n  --port <n>        listen"), std::string_view::npos);
    EXPECT_NE(
        usage.find("\n                    (default ~/Library/Application Support/Mirravale)\n"),
        std::string_view::npos);
}

TEST(Usage, UnknownOptionMessage) {
    EXPECT_EQ(unknown_option_text(UnknownOption{"--headles"}),
              "unknown option --headles\n\n" + std::string(usage_text()) + "\n");
}

TEST(Arguments, SkipTheProgramPath) {
    char program[] = "mirravale";
    char first[] = "--port";
    char second[] = "";
    char* argv[] = {program, first, second, nullptr};
    EXPECT_EQ(arguments_of(3, argv), (std::vector<std::string_view>{"--port", ""}));
    EXPECT_TRUE(arguments_of(1, argv).empty());
}

}  // namespace
}  // namespace mirravale::host

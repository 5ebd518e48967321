#pragma once
// The command line: what the user asked for, read by a pure parser so every rule is testable
// without running the program.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace mirravale::host {

struct CommandLine {
    std::optional<std::string> name;      // absent: the computer's name
    std::optional<std::string> data_dir;  // absent: the default data directory
    std::optional<std::uint16_t> port;    // absent: 47474 with fallback
    bool headless = false;
    bool test_pattern = false;

    friend bool operator==(const CommandLine&, const CommandLine&) = default;
};

// `--help` or `-h` was given: print the usage and stop, whatever else follows.
struct ShowUsage {
    friend bool operator==(const ShowUsage&, const ShowUsage&) = default;
};

// An argument the program does not understand, kept byte for byte for the message.
struct UnknownOption {
    std::string argument;
    friend bool operator==(const UnknownOption&, const UnknownOption&) = default;
};

using ParseOutcome = std::variant<CommandLine, ShowUsage, UnknownOption>;

// The usage text printed by `--help` and after an unknown option; ends with a line feed.
std::string_view usage_text();

// Reads the arguments that follow the program path. Arguments that are not valid UTF-8 text are
// refused as unknown options where they would be read as an option or as a name or directory.
ParseOutcome parse_command_line(std::span<const std::string_view> arguments);

// The arguments of `main` after the program path.
std::vector<std::string_view> arguments_of(int argc, char** argv);

// The whole text written to standard error for an unknown option.
std::string unknown_option_text(const UnknownOption& unknown);

}  // namespace mirravale::host

#include "host/cli.hpp"

#include <cstddef>

#include "host/utf8.hpp"

namespace mirravale::host {
namespace {

constexpr std::string_view USAGE =
    "Mirravale for Mac \u2014 control this Mac from your iPhone.\n"
    "\n"
    "USAGE: mirravale [options]\n"
    "\n"
    "  --headless        no window: print the QR code in the terminal\n"
    "  --port <n>        listen on this port (default 47474, or the next free one)\n"
    "  --name <name>     the name phones see (default: this Mac's name)\n"
    "  --test-pattern    stream a moving test picture instead of the screen\n"
    "  --data <dir>      where the identity and paired devices live\n"
    "                    (default ~/Library/Application Support/Mirravale)\n"
    "  --help            this text\n";

// An optional "+" and one or more decimal digits whose value fits 16 bits.
std::optional<std::uint16_t> parse_port(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string_view usage_text() {
    return USAGE;
}

ParseOutcome parse_command_line(std::span<const std::string_view> arguments) {
    CommandLine options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        const bool has_value = i + 1 < arguments.size();

        if (argument == "--help" || argument == "-h") {
            return ShowUsage{};
        } else if (argument == "--headless") {
            options.headless = true;
        } else if (argument == "--test-pattern") {
            options.test_pattern = true;
        } else if (argument == "--port") {
            options.port = has_value ? parse_port(arguments[++i]) : std::nullopt;
        } else if (argument == "--name" || argument == "--data") {
            auto& field = argument == "--name" ? options.name : options.data_dir;
            field.reset();
            if (has_value) {
                const std::string_view value = arguments[++i];
                // Names and paths travel on as text (JSON, the invite link, log lines).
                if (!is_utf8(value)) {
                    return UnknownOption{std::string(value)};
                }
                field = std::string(value);
            }
        } else if (argument.starts_with("-psn")) {
            // Added by a launcher; stands alone.
        } else if (argument.starts_with("-Apple") || argument.starts_with("-NS")) {
            // Added by a launcher together with its value.
            i += has_value ? 1 : 0;
        } else {
            return UnknownOption{std::string(argument)};
        }
    }
    return options;
}

std::vector<std::string_view> arguments_of(int argc, char** argv) {
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

std::string unknown_option_text(const UnknownOption& unknown) {
    std::string text = "unknown option ";
    text += unknown.argument;
    text += "\n\n";
    text += USAGE;
    text += '\n';
    return text;
}

}  // namespace mirravale::host

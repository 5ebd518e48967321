// The program's entry: read the command line, install logging, start the host.

#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "core/log.hpp"
#include "host/cli.hpp"
#include "host/logging.hpp"
#include "host/startup.hpp"
#include "wire/result.hpp"

namespace {

using mirravale::host::CommandLine;

void write(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

int run_host(const CommandLine& options) {
    if (auto installed = mirravale::host::install_logging(); !installed) {
        write(stderr, "Mirravale could not start: " + installed.error() + "\n");
        return 1;
    }
    if (auto started = mirravale::host::run(options); !started) {
        mirravale::log::get("mirravale")->error("{}", started.error());
        write(stderr, "Mirravale could not start: " + started.error() + "\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto arguments = mirravale::host::arguments_of(argc, argv);
    return std::visit(
        [](const auto& outcome) -> int {
            using Outcome = std::decay_t<decltype(outcome)>;
            if constexpr (std::is_same_v<Outcome, mirravale::host::ShowUsage>) {
                write(stdout, mirravale::host::usage_text());
                return 0;
            } else if constexpr (std::is_same_v<Outcome, mirravale::host::UnknownOption>) {
                write(stderr, mirravale::host::unknown_option_text(outcome));
                return 2;
            } else {
                return run_host(outcome);
            }
        },
        mirravale::host::parse_command_line(arguments));
}

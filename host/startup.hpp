#pragma once
// The program's spine after the command line: data directory and identity, the service and its
// ports, the network, then the terminal printer.

#include <filesystem>

#include "host/cli.hpp"
#include "wire/result.hpp"

namespace mirravale::host {

// The `--data` option, else "Library/Application Support/Mirravale" under HOME, else under ".".
std::filesystem::path data_directory(const CommandLine& options);

Status run(const CommandLine& options);

}  // namespace mirravale::host

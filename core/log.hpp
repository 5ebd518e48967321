#pragma once
// One logger per target, named by module path ("mirravale_core::session", ...). The host installs
// the sinks, format and level filter once at start; a target asked for before that (in tests)
// gets spdlog's default sink.
//
// Events carry their named fields after the message as `key=value`:
//   log::get("mirravale_net::server")->info("listening port={}", port);

#include <functional>
#include <memory>
#include <string_view>

#include <spdlog/spdlog.h>

namespace mirravale::log {

std::shared_ptr<spdlog::logger> get(std::string_view target);

// Decides each target's level: applied at once to the loggers that exist and to every logger
// made later.
using LevelOf = std::function<spdlog::level::level_enum(std::string_view target)>;
void set_level_of(LevelOf level_of);

}  // namespace mirravale::log

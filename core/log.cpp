#include "core/log.hpp"

#include <mutex>
#include <string>

namespace mirravale::log {
namespace {

std::mutex creating;
LevelOf level_of_target;  // guarded by `creating`

}  // namespace

std::shared_ptr<spdlog::logger> get(std::string_view target) {
    const std::string name(target);
    if (auto existing = spdlog::get(name)) {
        return existing;
    }
    std::lock_guard lock(creating);
    if (auto existing = spdlog::get(name)) {
        return existing;
    }
    auto fresh = std::make_shared<spdlog::logger>(name, spdlog::default_logger()->sinks().begin(),
                                                  spdlog::default_logger()->sinks().end());
    // Takes the registry's formatter and level, and registers the logger.
    spdlog::initialize_logger(fresh);
    if (level_of_target) {
        fresh->set_level(level_of_target(name));
    }
    return fresh;
}

void set_level_of(LevelOf level_of) {
    std::lock_guard lock(creating);
    level_of_target = std::move(level_of);
    spdlog::apply_all([](const std::shared_ptr<spdlog::logger>& logger) {
        if (!logger->name().empty()) {
            logger->set_level(level_of_target(logger->name()));
        }
    });
}

}  // namespace mirravale::log

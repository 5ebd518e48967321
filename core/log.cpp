#include "core/log.hpp"

#include <mutex>
#include <string>

namespace mirravale::log {

std::shared_ptr<spdlog::logger> get(std::string_view target) {
    static std::mutex creating;
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
    // Takes the registry's formatter and the level the filter gives this target.
    spdlog::initialize_logger(fresh);
    return fresh;
}

}  // namespace mirravale::log

#pragma once
// The terminal mode: follows the published status and prints what changed.

#include <memory>
#include <string>

#include "core/service.hpp"
#include "core/status.hpp"

namespace mirravale::host {

// What changed between two statuses, as the terminal shows it.
std::string headless_changes(const core::HostStatus& previous, const core::HostStatus& now);

// Prints each change as it is published; returns only if publication ends (never, in practice).
void run_headless(const core::HostService& service);

}  // namespace mirravale::host

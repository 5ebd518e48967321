#pragma once
// Advertising the host on the local network by DNS-SD, through the Avahi daemon.

#include <cstdint>
#include <memory>

#include "core/identity.hpp"

namespace mirravale::net {

inline constexpr const char* SERVICE_TYPE = "_mirravale._tcp";

// A live registration; destroying it withdraws the service.
class Registration {
  public:
    virtual ~Registration() = default;
};

// Registers the service; nothing (after a WARN) when the daemon cannot be reached.
std::unique_ptr<Registration> advertise(const core::HostIdentity& identity, std::uint16_t port);

}  // namespace mirravale::net

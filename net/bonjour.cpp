#include "net/bonjour.hpp"

#include <string>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include "core/log.hpp"
#include "net/addresses.hpp"

namespace mirravale::net {
namespace {

auto logger() {
    return log::get("mirravale_net::bonjour");
}

// Avahi's own thread runs the daemon conversation; the client and its group live as long as this.
class AvahiRegistration final : public Registration {
  public:
    AvahiRegistration() : poll_(avahi_threaded_poll_new()) {}
    ~AvahiRegistration() override {
        if (poll_)
            avahi_threaded_poll_stop(poll_);
        if (client_)
            avahi_client_free(client_);  // frees the group too
        if (poll_)
            avahi_threaded_poll_free(poll_);
    }

    // 0 on success, else Avahi's (negative) error code.
    int start(const std::string& name, const std::vector<std::uint8_t>& txt, std::uint16_t port) {
        if (!poll_)
            return AVAHI_ERR_NO_MEMORY;
        int error = 0;
        client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0), nullptr,
                                   nullptr, &error);
        if (!client_)
            return error;
        AvahiEntryGroup* group = avahi_entry_group_new(client_, nullptr, nullptr);
        if (!group)
            return avahi_client_errno(client_);
        // The TXT record's strings, each after its length byte, in order.
        AvahiStringList* strings = nullptr;
        for (std::size_t at = 0; at < txt.size(); at += 1 + txt[at]) {
            strings = avahi_string_list_add_arbitrary(strings, txt.data() + at + 1, txt[at]);
        }
        strings = avahi_string_list_reverse(strings);
        error = avahi_entry_group_add_service_strlst(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                     AvahiPublishFlags(0), name.c_str(),
                                                     SERVICE_TYPE, nullptr, nullptr, port, strings);
        avahi_string_list_free(strings);
        if (error == 0)
            error = avahi_entry_group_commit(group);
        if (error == 0)
            error = avahi_threaded_poll_start(poll_);
        return error;
    }

  private:
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
};

}  // namespace

std::unique_ptr<Registration> advertise(const core::HostIdentity& identity, std::uint16_t port) {
    std::string name = identity.name;
    std::erase(name, '\0');
    auto registration = std::make_unique<AvahiRegistration>();
    if (const int error = registration->start(name, txt_record(identity), port); error != 0) {
        logger()->warn(
            "Bonjour registration failed ({}); phones will use the addresses in the QR code",
            error);
        return nullptr;
    }
    logger()->info("advertising {} on port {}", SERVICE_TYPE, port);
    return registration;
}

}  // namespace mirravale::net
